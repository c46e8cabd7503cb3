#include "support/Unprivileged.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace brindle::test {

int asUnprivileged(const std::function<int()>& body) {
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
