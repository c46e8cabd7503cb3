#include "service/Keychain.h"

#include <mutex>

#include "common/Log.h"
#include "service/SecretFile.h"

namespace brindle::Keychain {

namespace {

const char* const kService = "Larder";
const char* const kAccount = "github-token";

// The cached token: not loaded, loaded as missing, or loaded as a text.
struct Cache {
    std::mutex mutex;  // guards the fields below; held during the first read
    bool loaded = false;
    std::optional<std::string> value;
    std::filesystem::path file;  // the secret file the value came from
};

Cache& cache() {
    static Cache shared;
    return shared;
}

}  // namespace

std::optional<std::string> token() {
    Cache& shared = cache();
    std::lock_guard<std::mutex> guard(shared.mutex);
    std::filesystem::path current = SecretFile::path();
    if (!shared.loaded || shared.file != current) {
        shared.value = SecretFile::read(kService, kAccount);
        shared.file = current;
        shared.loaded = true;
    }
    return shared.value;
}

void setToken(const std::string& value) {
    Cache& shared = cache();
    std::lock_guard<std::mutex> guard(shared.mutex);
    shared.value = value;
    shared.file = SecretFile::path();
    shared.loaded = true;
    try {
        SecretFile::update([&](nlohmann::json& store) {
            if (!store[kService].is_object()) store[kService] = nlohmann::json::object();
            store[kService][kAccount] = SecretFile::encode(value);
        });
    } catch (const std::exception& failure) {
        Log::write(std::string("Secrets: could not store the GitHub token: ") + failure.what());
    }
}

void forgetCache() {
    Cache& shared = cache();
    std::lock_guard<std::mutex> guard(shared.mutex);
    shared.loaded = false;
    shared.value.reset();
}

}  // namespace brindle::Keychain
