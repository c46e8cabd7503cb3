#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace brindle {

// An exclusive lock (flock) on a lock file, held for one sync pass so that two
// processes (the tray app and a command-line pass, or two login sessions)
// never work on the same folder at once. When another process holds it, the
// wait is announced once through log ("Waiting for another sync of this folder
// to finish") and then blocks until the other pass ends. The descriptor is
// close-on-exec, so the lock ends with this process even when a child it
// started lives on. Throws brindle::Error naming the file when it cannot be
// opened or locked.
class PassLock {
public:
    explicit PassLock(const std::filesystem::path& file, const std::function<void(const std::string&)>& log = {});
    ~PassLock();
    PassLock(const PassLock&) = delete;
    PassLock& operator=(const PassLock&) = delete;

private:
    int fd_ = -1;
};

}  // namespace brindle
