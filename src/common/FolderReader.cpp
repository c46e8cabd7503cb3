#include "common/FolderReader.h"

#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace brindle {

namespace {

// The kernel's record layout for getdents64.
struct KernelEntry {
    uint64_t inode;
    int64_t offset;
    unsigned short length;
    unsigned char type;
    char name[1];
};

bool isDots(const char* name) {
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

}  // namespace

FolderReader::FolderReader(int fd) : fd_(fd), buffer_(new char[kBufferSize]) {}

FolderReader::~FolderReader() {
    if (fd_ >= 0) ::close(fd_);
}

bool FolderReader::next(Entry& entry) {
    while (true) {
        if (offset_ >= used_) {
            long read = ::syscall(SYS_getdents64, fd_, buffer_.get(), kBufferSize);
            if (read < 0) {
                error_ = errno;
                return false;
            }
            if (read == 0) return false;
            used_ = static_cast<size_t>(read);
            offset_ = 0;
        }
        auto* record = reinterpret_cast<KernelEntry*>(buffer_.get() + offset_);
        offset_ += record->length;
        if (isDots(record->name)) continue;
        entry.name = record->name;
        entry.type = record->type;
        return true;
    }
}

}  // namespace brindle
