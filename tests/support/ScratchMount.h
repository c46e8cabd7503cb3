#pragma once

#include <filesystem>
#include <string>

namespace brindle::test {

// A size-limited tmpfs mounted at a new folder for the object's life (a disk
// that fills up, a Trash of its own). Where mounting is impossible, mounted()
// is false and why() says why, for GTEST_SKIP.
class ScratchMount {
public:
    ScratchMount(const std::filesystem::path& at, long long bytes);
    ~ScratchMount();
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;
    bool resize(long long bytes);  // false when the remount fails
    bool mounted() const { return mounted_; }
    const std::string& why() const { return why_; }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    bool mounted_ = false;
    std::string why_;
};

}  // namespace brindle::test
