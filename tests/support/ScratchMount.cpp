#include "support/ScratchMount.h"

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

namespace brindle::test {

ScratchMount::ScratchMount(const std::filesystem::path& at, long long bytes) : path_(at) {
    std::filesystem::create_directories(at);
    std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    if (::mount("tmpfs", at.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0)
        mounted_ = true;
    else
        why_ = "can't mount a tmpfs here (" + std::string(std::strerror(errno)) + ")";
}

bool ScratchMount::resize(long long bytes) {
    std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    return mounted_ &&
           ::mount("tmpfs", path_.c_str(), "tmpfs", MS_REMOUNT | MS_NOSUID | MS_NODEV, options.c_str()) == 0;
}

ScratchMount::~ScratchMount() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
}

}  // namespace brindle::test
