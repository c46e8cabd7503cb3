#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace brindle::test {

struct ProgramResult {
    int status = 0;
    std::string out, err;
};

// Runs the built brindle program with args (not including the program name),
// the test process's environment with env laid over it. A time-out (seconds)
// guards against a hang.
ProgramResult runBrindle(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {},
                         double timeout = 300);

// Runs any program (argv[0] is its path) the same way.
ProgramResult runProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {},
                         double timeout = 300);

// Runs /usr/bin/git with args in folder; fails the test when git fails.
std::string git(const std::string& folder, const std::vector<std::string>& args);

// The brindle program's path followed by args, for ChildProcess.
std::vector<std::string> brindleCommand(const std::vector<std::string>& args);

// argv run under strace, which kills the whole program with SIGKILL at its
// whenth call of any of calls (e.g. "rename,renameat,renameat2").
std::vector<std::string> killedAtCall(const std::vector<std::string>& argv, const std::string& calls, int when);

// A program (argv[0] is its path) running in a process group of its own, with
// the test's environment and env laid over it, standard output on a pipe the
// test reads while it runs and standard error discarded. Killing it kills the
// group, so whatever it started (a git, a push) dies with it, as in a crash.
// Going out of scope kills and reaps what is still running.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // The next line of output without its newline; "" at the end of the
    // output or after a minute of silence.
    std::string readLine();
    // Whether it has ended, without waiting.
    bool finished();
    // Sends SIGKILL to the whole group.
    void kill();
    // Waits for the exit, killing the group first once killAfter seconds have
    // passed. The exit status, or 128 + the signal that ended it.
    int wait(std::optional<double> killAfter = std::nullopt);
    // Output not yet taken by readLine, complete once wait() has returned.
    std::string output() const { return buffered_; }

private:
    bool readSome(int timeoutMs);

    pid_t pid_ = -1;
    int out_ = -1;
    std::optional<int> status_;
    bool ended_ = false;  // the pipe reached its end
    std::string buffered_;
};

}  // namespace brindle::test
