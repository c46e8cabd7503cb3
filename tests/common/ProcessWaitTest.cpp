#include <gtest/gtest.h>
#include <signal.h>

#include "common/Process.h"

using namespace brindle;

// With SIGCHLD ignored the kernel reaps children itself and waitpid fails:
// a status lost that way is a failure, with a time-out or without.
TEST(ProcessWait, LostStatusCountsAsFailure) {
    struct sigaction ignore {
    }, saved{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGCHLD, &ignore, &saved);
    for (std::optional<double> timeout : {std::optional<double>{}, std::optional<double>{30.0}}) {
        Process::Options options;
        options.timeout = timeout;
        Process::Outcome outcome = Process::run("/bin/sh", {"/bin/sh", "-c", "exit 0"}, options);
        EXPECT_EQ(outcome.status, -1);
        EXPECT_NE(outcome.err.find("Could not learn how /bin/sh ended"), std::string::npos) << outcome.err;
    }
    ::sigaction(SIGCHLD, &saved, nullptr);
}
