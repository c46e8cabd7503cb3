#pragma once

#include <cstddef>
#include <memory>

namespace brindle {

// Reads the names in an open folder straight with getdents64 into one buffer
// of its own, without the libc stream (no extra fcntl or fstat per folder).
// Takes over fd and closes it. "." and ".." are skipped.
class FolderReader {
public:
    struct Entry {
        const char* name;    // valid until the next call of next()
        unsigned char type;  // DT_* as the file system reports it; DT_UNKNOWN needs an lstat
    };

    explicit FolderReader(int fd);
    ~FolderReader();
    FolderReader(const FolderReader&) = delete;
    FolderReader& operator=(const FolderReader&) = delete;

    int fd() const { return fd_; }
    // The next entry, or false at the end or on a failure (then error() is its errno).
    bool next(Entry& entry);
    int error() const { return error_; }

private:
    static constexpr size_t kBufferSize = 32768;
    int fd_;
    int error_ = 0;
    size_t used_ = 0;
    size_t offset_ = 0;
    std::unique_ptr<char[]> buffer_;
};

}  // namespace brindle
