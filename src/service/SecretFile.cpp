#include "service/SecretFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/Error.h"
#include "common/Files.h"
#include "common/Log.h"
#include "common/Text.h"

namespace brindle::SecretFile {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;

// Removes group and other permissions from path, when it has any.
void tighten(const fs::path& target, mode_t wanted) {
    struct stat info {};
    if (::lstat(target.c_str(), &info) != 0 || S_ISLNK(info.st_mode)) return;
    if ((info.st_mode & 077) == 0) return;
    if (::chmod(target.c_str(), wanted) == 0)
        Log::write("Secrets: " + target.string() + " was open to other users; tightened it to " +
                   (wanted == kFolderMode ? "0700" : "0600"));
}

void prepareFolder(const fs::path& folder) {
    std::error_code failed;
    fs::create_directories(folder.parent_path(), failed);
    if (::mkdir(folder.c_str(), kFolderMode) != 0 && errno != EEXIST)
        throw Error("Could not create " + folder.string() + ": " + std::strerror(errno));
    tighten(folder, kFolderMode);
}

// An exclusive flock on "secrets.lock" beside the file, released on scope exit.
class WriterLock {
public:
    explicit WriterLock(const fs::path& lockFile) {
        fd_ = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kFileMode);
        if (fd_ < 0) throw Error("Could not open " + lockFile.string() + ": " + std::strerror(errno));
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            std::string reason = std::strerror(errno);
            ::close(fd_);
            throw Error("Could not lock " + lockFile.string() + ": " + reason);
        }
    }
    ~WriterLock() { ::close(fd_); }  // closing releases the lock
    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;

private:
    int fd_ = -1;
};

// Parses the stored text; nothing when it is not a JSON object.
std::optional<json> parseStore(const std::string& text) {
    json parsed = json::parse(text, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) return std::nullopt;
    return parsed;
}

// Base64 back to bytes; nothing when the text is not Base64.
std::optional<std::string> unbase64(const std::string& text) {
    static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (text.size() % 4 != 0) return std::nullopt;
    std::string bytes;
    unsigned buffer = 0;
    int bits = 0;
    size_t padding = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '=') {
            if (i + 2 < text.size()) return std::nullopt;
            ++padding;
            continue;
        }
        size_t index = kAlphabet.find(text[i]);
        if (index == std::string::npos || padding > 0) return std::nullopt;
        buffer = (buffer << 6) | static_cast<unsigned>(index);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<char>((buffer >> bits) & 0xFF));
        }
    }
    return bytes;
}

// The whole content of file; nothing when there is no such file. Throws when
// it exists but cannot be read, so that a write never replaces items it did
// not see.
std::optional<std::string> readExisting(const fs::path& file) {
    auto unreadable = [&file](int failure) {
        return Error("Could not read " + file.string() + " (" + std::strerror(failure) + "); left it as it is");
    };
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) return std::nullopt;
    if (fd < 0) throw unreadable(errno);
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            text.append(buffer, static_cast<size_t>(got));
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            int failure = errno;
            ::close(fd);
            throw unreadable(failure);
        }
    }
    ::close(fd);
    return text;
}

// The store as it is on disk, to be changed and written back. A file that is
// not a JSON object is kept aside rather than overwritten (it may be
// repairable by hand); when it cannot be moved aside, nothing is written.
json storeToChange(const fs::path& file) {
    std::optional<std::string> text = readExisting(file);
    if (!text || text->empty()) return json::object();
    if (std::optional<json> parsed = parseStore(*text)) return std::move(*parsed);
    fs::path aside = file.parent_path() / ("secrets.damaged-" + Files::newUUID().substr(0, 8) + ".json");
    std::error_code failed;
    fs::rename(file, aside, failed);
    if (failed)
        throw Error(file.string() + " was not readable and could not be kept as " + aside.string() + " (" +
                    failed.message() + "); left it as it is");
    Log::write("Secrets: " + file.string() + " was not readable; kept it as " + aside.string());
    return json::object();
}

}  // namespace

fs::path path() {
    return Files::xdgDir("XDG_CONFIG_HOME", ".config") / "brindle" / "secrets.json";
}

json load() {
    const fs::path file = path();
    tighten(file.parent_path(), kFolderMode);
    tighten(file, kFileMode);
    std::optional<std::string> text = Files::read(file);
    if (!text) return json::object();
    return parseStore(*text).value_or(json::object());
}

std::optional<std::string> read(const std::string& service, const std::string& account) {
    json store = load();
    auto items = store.find(service);
    if (items == store.end() || !items->is_object()) return std::nullopt;
    auto item = items->find(account);
    if (item == items->end()) return std::nullopt;
    return decode(*item);
}

void update(const std::function<void(json& store)>& change) {
    const fs::path file = path();
    prepareFolder(file.parent_path());
    WriterLock lock(file.parent_path() / "secrets.lock");
    tighten(file, kFileMode);
    json store = storeToChange(file);
    change(store);
    std::string bytes;
    try {
        bytes = store.dump(2);
    } catch (const json::exception& failure) {
        throw Error(std::string("Could not encode the secret file: ") + failure.what());
    }
    Files::writeAtomically(file, bytes + "\n", kFileMode);
}

json encode(const std::string& value) {
    if (Text::isValidUTF8(value)) return value;
    return json{{"base64", Text::base64(value)}};
}

std::optional<std::string> decode(const json& stored) {
    if (stored.is_string()) return stored.get<std::string>();
    if (!stored.is_object()) return std::nullopt;
    auto encoded = stored.find("base64");
    if (encoded == stored.end() || !encoded->is_string()) return std::nullopt;
    return unbase64(encoded->get<std::string>());
}

}  // namespace brindle::SecretFile
