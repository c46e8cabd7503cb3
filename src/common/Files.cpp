#include "common/Files.h"

#include "common/Error.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <uuid/uuid.h>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>

namespace brindle::Files {

namespace {

void syncFolder(const fs::path& folder) {
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

std::string errnoText(const std::string& what, const fs::path& path) {
    return what + " " + path.string() + ": " + std::strerror(errno);
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

void writeAtomically(const fs::path& path, std::string_view bytes, unsigned mode) {
    AtomicFile file(path, mode);
    file.write(bytes);
    file.commit();
}

AtomicFile::AtomicFile(const fs::path& path, unsigned mode) : path_(path), temp_(path.parent_path() / temporaryName()) {
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd_ < 0) throw Error(errnoText("Could not create", temp_));
}

AtomicFile::~AtomicFile() {
    if (fd_ < 0) return;
    ::close(fd_);
    ::unlink(temp_.c_str());
}

void AtomicFile::fail(const std::string& what, const fs::path& about) {
    std::string text = errnoText(what, about);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    ::unlink(temp_.c_str());
    throw Error(text);
}

void AtomicFile::write(std::string_view bytes) {
    if (fd_ < 0) throw Error("Could not write " + temp_.string() + ": already closed");
    if (!writeAll(fd_, bytes)) fail("Could not write", temp_);
}

void AtomicFile::writeWhenFull(std::string& buffer) {
    if (buffer.size() < (1U << 20)) return;
    write(buffer);
    buffer.clear();
}

void AtomicFile::commit(bool durable) {
    if (fd_ < 0) throw Error("Could not write " + temp_.string() + ": already closed");
    if (durable && ::fsync(fd_) != 0) fail("Could not write", temp_);
    if (::close(std::exchange(fd_, -1)) != 0) fail("Could not write", temp_);
    if (::rename(temp_.c_str(), path_.c_str()) != 0) fail("Could not replace", path_);
    if (durable) syncFolder(path_.parent_path());
}

std::optional<std::string> read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return content.str();
}

std::string newUUID() {
    uuid_t id;
    uuid_generate_random(id);
    char text[37];
    uuid_unparse_lower(id, text);
    return text;
}

bool isLowerUUID(std::string_view text) {
    if (text.size() != 36) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

std::string temporaryName() {
    // The first 12 characters of a random UUID's text. Drawn from a generator
    // seeded once per thread: a sync names a temporary file per file it
    // copies, and a UUID from the system costs several system calls each.
    thread_local std::mt19937_64 random{[] {
        std::random_device device;
        return (static_cast<uint64_t>(device()) << 32) ^ device();
    }()};
    static constexpr char kHex[] = "0123456789abcdef";
    uint64_t bits = random();
    std::string name = ".brindle-tmp-xxxxxxxx-xxx";
    for (size_t i = name.size() - 12; i < name.size(); ++i) {
        if (name[i] == '-') continue;
        name[i] = kHex[bits & 15];
        bits >>= 4;
    }
    return name;
}

fs::path home() {
    if (const char* value = std::getenv("HOME"); value && *value) return value;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return "/";
}

fs::path xdgDir(const char* name, const char* fallback) {
    if (const char* value = std::getenv(name); value && value[0] == '/') return value;
    return home() / fallback;
}

std::optional<std::string> env(const char* name) {
    if (const char* value = std::getenv(name)) return std::string(value);
    return std::nullopt;
}

int64_t mtimeNs(const struct ::stat& info) {
    return static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
}

int64_t ctimeNs(const struct ::stat& info) {
    return static_cast<int64_t>(info.st_ctim.tv_sec) * 1'000'000'000 + info.st_ctim.tv_nsec;
}

int64_t clockNs() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

TemporaryFile::~TemporaryFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
}

}  // namespace brindle::Files
