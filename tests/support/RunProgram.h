#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/Process.h"

namespace brindle::test {

using ProgramResult = Process::Outcome;  // status, out, err
using Env = std::map<std::string, std::string>;

// Runs a program (argv[0] is its path; runBrindle: the built brindle) with the
// test's environment and env laid over it, killed after timeout seconds.
inline ProgramResult runProgram(const std::vector<std::string>& argv, const Env& env = {}, double timeout = 300) {
    return Process::run(argv.at(0), argv, {.env = env, .timeout = timeout});
}
inline std::vector<std::string> brindleCommand(std::vector<std::string> args) {  // the built program, then args
    return args.insert(args.begin(), BRINDLE_BIN), args;
}
inline ProgramResult runBrindle(const std::vector<std::string>& args, const Env& env = {}, double timeout = 300) {
    return runProgram(brindleCommand(args), env, timeout);
}
// Runs /usr/bin/git with args in folder; fails the test when git fails.
std::string git(const std::string& folder, const std::vector<std::string>& args);
// argv under strace, which kills it with SIGKILL at its whenth call of calls ("rename,renameat").
std::vector<std::string> killedAtCall(const std::vector<std::string>& argv, const std::string& calls, int when);

// A program in a process group of its own (killing it kills whatever it
// started, as in a crash), standard output on a pipe read while it runs,
// standard error discarded; going out of scope kills and reaps it.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv, const Env& env = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // The next line without its newline; "" at the end or after a minute of silence.
    std::string readLine();
    bool finished();  // without waiting
    void kill();      // SIGKILL to the whole group
    // The exit status (128 + signal), killing the group after killAfter seconds.
    int wait(std::optional<double> killAfter = std::nullopt);
    std::string output() const { return buffered_; }  // not yet taken by readLine; whole after wait()

private:
    bool readSome(int timeoutMs);

    pid_t pid_ = -1;
    int out_ = -1;
    std::optional<int> status_;
    bool ended_ = false;  // the pipe reached its end
    std::string buffered_;
};

}  // namespace brindle::test
