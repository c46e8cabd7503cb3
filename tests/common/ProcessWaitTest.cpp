#include <gtest/gtest.h>
#include <signal.h>

#include "common/Process.h"

using namespace brindle;

namespace {

// Makes the kernel reap children on its own for the life of the object, so
// that waitpid fails with ECHILD: the child's status can no longer be learnt.
class ChildrenReapedElsewhere {
public:
    ChildrenReapedElsewhere() { ::sigaction(SIGCHLD, &ignore(), &saved_); }
    ~ChildrenReapedElsewhere() { ::sigaction(SIGCHLD, &saved_, nullptr); }

private:
    static const struct sigaction& ignore() {
        static struct sigaction action = [] {
            struct sigaction value {};
            value.sa_handler = SIG_IGN;
            return value;
        }();
        return action;
    }
    struct sigaction saved_ {};
};

}  // namespace

// A child that fails, whose status is lost to a failed waitpid, must not
// count as a success; with and without a time-out the runner waits differently.
TEST(ProcessWait, LostStatusCountsAsFailure) {
    for (std::optional<double> timeout : {std::optional<double>{}, std::optional<double>{30.0}}) {
        ChildrenReapedElsewhere reaped;
        Process::Options options;
        options.timeout = timeout;
        Process::Outcome outcome = Process::run("/bin/sh", {"/bin/sh", "-c", "exit 0"}, options);
        EXPECT_EQ(outcome.status, -1) << "timeout " << timeout.has_value();
        EXPECT_NE(outcome.err.find("Could not learn how /bin/sh ended"), std::string::npos) << outcome.err;
    }
}
