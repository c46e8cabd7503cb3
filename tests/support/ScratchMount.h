#pragma once

#include <sys/mount.h>

#include <cstring>
#include <filesystem>
#include <string>

namespace brindle::test {

// A size-limited tmpfs mounted at a new folder for the object's life (a disk
// that fills up, a Trash of its own). Where mounting is impossible, mounted()
// is false and why() says why, for GTEST_SKIP.
class ScratchMount {
public:
    ScratchMount(const std::filesystem::path& at, long long bytes) : path_(at) {
        std::filesystem::create_directories(at);
        mounted_ = resize(bytes);
        if (!mounted_) why_ = "can't mount a tmpfs here (" + std::string(std::strerror(errno)) + ")";
    }
    ~ScratchMount() {
        if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    }
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;
    bool resize(long long bytes) {  // false when the remount fails
        std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
        return ::mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV | (mounted_ ? MS_REMOUNT : 0),
                       options.c_str()) == 0;
    }
    bool mounted() const { return mounted_; }
    const std::string& why() const { return why_; }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    bool mounted_ = false;
    std::string why_;
};

}  // namespace brindle::test
