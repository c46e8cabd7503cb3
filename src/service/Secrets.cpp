#include "service/Secrets.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "common/Log.h"
#include "service/SecretFile.h"

namespace brindle::Secrets {

namespace {

// The process-wide cache. An entry holding nothing records a missing item.
struct Cache {
    std::mutex mutex;  // guards items and file; never held across file I/O
    std::map<std::string, std::optional<std::string>> items;
    std::filesystem::path file;  // the secret file the items came from
};

Cache& cache() {
    static Cache shared;
    return shared;
}

std::string keyOf(const std::string& account, const std::string& service) {
    return service + '\0' + account;
}

// Called under the cache mutex: a changed environment (another secret file)
// starts an empty cache, so items of one file are never answered for another.
void followFile(Cache& shared) {
    std::filesystem::path current = SecretFile::path();
    if (current == shared.file) return;
    shared.items.clear();
    shared.file = current;
}

bool write(const std::string& what, const std::function<void(nlohmann::json&)>& change) {
    try {
        SecretFile::update(change);
        return true;
    } catch (const std::exception& failure) {
        Log::write("Secrets: could not " + what + ": " + failure.what());
        return false;
    }
}

}  // namespace

std::optional<std::string> get(const std::string& account, const std::string& service) {
    Cache& shared = cache();
    const std::string key = keyOf(account, service);
    {
        std::lock_guard<std::mutex> guard(shared.mutex);
        followFile(shared);
        auto found = shared.items.find(key);
        if (found != shared.items.end()) return found->second;
    }
    std::optional<std::string> value = SecretFile::read(service, account);
    std::lock_guard<std::mutex> guard(shared.mutex);
    followFile(shared);
    shared.items[key] = value;
    return value;
}

bool set(const std::string& value, const std::string& account, const std::string& service) {
    Cache& shared = cache();
    const std::string key = keyOf(account, service);
    {
        std::lock_guard<std::mutex> guard(shared.mutex);
        followFile(shared);
        shared.items[key] = value;
    }
    bool stored = write("store " + service + "/" + account, [&](nlohmann::json& store) {
        if (!store[service].is_object()) store[service] = nlohmann::json::object();
        store[service][account] = SecretFile::encode(value);
    });
    if (!stored) {
        // Answer from the file again rather than from a value it never got.
        std::lock_guard<std::mutex> guard(shared.mutex);
        shared.items.erase(key);
    }
    return stored;
}

void remove(const std::string& account, const std::string& service) {
    Cache& shared = cache();
    {
        std::lock_guard<std::mutex> guard(shared.mutex);
        followFile(shared);
        shared.items.erase(keyOf(account, service));
    }
    std::error_code ignored;
    if (!std::filesystem::exists(SecretFile::path(), ignored)) return;  // nothing stored yet: create nothing
    write("delete " + service + "/" + account, [&](nlohmann::json& store) {
        auto items = store.find(service);
        if (items == store.end() || !items->is_object()) return;
        items->erase(account);
        if (items->empty()) store.erase(items);
    });
}

std::vector<std::string> accounts(const std::string& service) {
    std::vector<std::string> names;
    nlohmann::json store = SecretFile::load();
    auto items = store.find(service);
    if (items == store.end() || !items->is_object()) return names;
    for (const auto& [account, value] : items->items())
        if (SecretFile::decode(value)) names.push_back(account);
    std::sort(names.begin(), names.end());
    return names;
}

std::filesystem::path file() {
    return SecretFile::path();
}

void forgetCache() {
    Cache& shared = cache();
    std::lock_guard<std::mutex> guard(shared.mutex);
    shared.items.clear();
}

}  // namespace brindle::Secrets
