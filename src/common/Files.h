#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace brindle::Files {

namespace fs = std::filesystem;

// what + " " + path + ": " + the text of errno, for a failed system call.
std::string errnoText(const std::string& what, const fs::path& path);

// Writes all of bytes to fd from its current offset, going on after
// interruptions; false (errno set) when a write fails.
bool writeAll(int fd, std::string_view bytes);

// Writes bytes to a temporary file beside path, fsyncs it, renames it over
// path and fsyncs the folder, so a crash leaves either the old or the new
// content. Throws brindle::Error naming the path on failure. mode applies to
// the new file.
void writeAtomically(const fs::path& path, std::string_view bytes, unsigned mode = 0644);

// The same for content made piece by piece, so a large file need not be
// held in memory whole: write() the pieces, then commit(). A file never
// committed is removed when the object goes, leaving the old content.
class AtomicFile {
public:
    explicit AtomicFile(const fs::path& path, unsigned mode = 0644);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    void write(std::string_view bytes);
    // Writes out and empties buffer once it holds a megabyte or more.
    void writeWhenFull(std::string& buffer);
    // Puts the file in place. Without durable the content is not flushed
    // first: only for a cache that checks itself, which a power cut may
    // leave old or damaged but never misleading.
    void commit(bool durable = true);

private:
    [[noreturn]] void fail(const std::string& what, const fs::path& about);
    fs::path path_, temp_;
    int fd_ = -1;
};

// The whole content of a file, or nothing when it cannot be read.
std::optional<std::string> read(const fs::path& path);

// ".brindle-tmp-" + the first 12 characters of a new UUID: the name of a
// temporary file placed next to its destination.
std::string temporaryName();

// A file's modification and change times in nanoseconds since 1970.
int64_t mtimeNs(const struct ::stat& info);
int64_t ctimeNs(const struct ::stat& info);
// The time now, on the same scale.
int64_t clockNs();

// Removes a temporary file on every way out unless keep() says it was moved
// into place.
class TemporaryFile {
public:
    explicit TemporaryFile(fs::path path) : path_(std::move(path)) {}
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const fs::path& path() const { return path_; }
    void keep() { path_.clear(); }

private:
    fs::path path_;
};

// A new random UUID in lower case, e.g. "1b4e28ba-2fa1-11d2-883f-0016d3cca427".
std::string newUUID();

// true when text is a UUID in exactly that lower-case form (36 characters,
// hex digits and dashes in the 8-4-4-4-12 pattern). A drive's identifier must
// be one before it names a file or is trusted in any other way.
bool isLowerUUID(std::string_view text);

// The user's home folder: $HOME, else the password database entry.
fs::path home();

// $NAME when it is set to an absolute path, else home()/fallback.
fs::path xdgDir(const char* name, const char* fallback);

// The value of an environment variable, or nothing when unset.
std::optional<std::string> env(const char* name);

}  // namespace brindle::Files
