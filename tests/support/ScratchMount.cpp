#include "support/ScratchMount.h"

#include <sys/mount.h>

#include <cstring>

namespace brindle::test {

ScratchMount::ScratchMount(const std::filesystem::path& at, long long bytes) : path_(at) {
    std::filesystem::create_directories(at);
    mounted_ = resize(bytes);
    if (!mounted_) why_ = "can't mount a tmpfs here (" + std::string(std::strerror(errno)) + ")";
}

bool ScratchMount::resize(long long bytes) {
    std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    return ::mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV | (mounted_ ? MS_REMOUNT : 0),
                   options.c_str()) == 0;
}

ScratchMount::~ScratchMount() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
}

}  // namespace brindle::test
