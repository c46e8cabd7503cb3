#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace brindle::test {

// body's result, run in a forked child without root (uid and gid 65534) so file
// permissions apply; 125 when root could not be dropped, 126 when body threw.
inline int asUnprivileged(const std::function<int()>& body) {
    pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
            ::setresuid(65534, 65534, 65534) != 0)
            ::_exit(125);
        int result = 126;
        try {
            result = body();
        } catch (...) {
        }
        ::_exit(result);
    }
    int status = 0;
    while (child > 0 && ::waitpid(child, &status, 0) < 0) {
    }
    return child < 0 ? 124 : WIFEXITED(status) ? WEXITSTATUS(status) : 127;
}

}  // namespace brindle::test
