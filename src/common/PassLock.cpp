#include "common/PassLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/Error.h"
#include "common/Log.h"

namespace brindle {

PassLock::PassLock(const std::filesystem::path& file, const std::function<void(const std::string&)>& log) {
    fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) throw Error("Could not open " + file.string() + ": " + std::strerror(errno));
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return;
    std::string waiting = "Waiting for another sync of this folder to finish";
    if (log)
        log(waiting);
    else
        Log::write(waiting);
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        int failure = errno;
        ::close(fd_);
        throw Error("Could not lock " + file.string() + ": " + std::strerror(failure));
    }
}

PassLock::~PassLock() {
    ::close(fd_);
}

}  // namespace brindle
