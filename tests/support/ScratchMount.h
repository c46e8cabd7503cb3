#pragma once

#include <filesystem>
#include <string>

namespace brindle::test {

// A size-limited tmpfs mounted at a new folder for the life of the object:
// a file system of its own (a separate Trash, a disk that fills up). Needs
// root with the right to mount; when mounting is impossible, mounted() is
// false and why() says why, so the test can skip with that message.
class ScratchMount {
public:
    ScratchMount(const std::filesystem::path& at, long long bytes);
    ~ScratchMount();
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;

    // Gives the file system a new size limit; false when the remount fails.
    bool resize(long long bytes);

    bool mounted() const { return mounted_; }
    const std::string& why() const { return why_; }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    bool mounted_ = false;
    std::string why_;
};

}  // namespace brindle::test
