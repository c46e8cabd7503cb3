#include "support/RunProgram.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

extern char** environ;

namespace brindle::test {

std::string git(const std::string& folder, const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/usr/bin/git", "-C", folder};
    argv.insert(argv.end(), args.begin(), args.end());
    ProgramResult result = runProgram(argv, {{"GIT_TERMINAL_PROMPT", "0"}}, 120);
    EXPECT_EQ(result.status, 0) << "git " << (args.empty() ? "" : args[0]) << ": " << result.err;
    return result.out;
}

std::vector<std::string> killedAtCall(const std::vector<std::string>& argv, const std::string& calls, int when) {
    std::vector<std::string> traced{"/usr/bin/strace",
                                    "-f",
                                    "-qq",
                                    "-o",
                                    "/dev/null",
                                    "-e",
                                    "trace=" + calls,
                                    "-e",
                                    "inject=" + calls + ":signal=KILL:when=" + std::to_string(when)};
    traced.insert(traced.end(), argv.begin(), argv.end());
    return traced;
}

namespace {

// NAME=value lines of the test's environment with overlay laid over it.
std::vector<std::string> environment(const Env& overlay) {
    Env values;
    for (char** entry = environ; *entry; ++entry)
        if (char* equals = std::strchr(*entry, '=')) values[std::string(*entry, equals)] = equals + 1;
    for (const auto& [name, value] : overlay) values[name] = value;
    std::vector<std::string> lines;
    for (const auto& [name, value] : values) lines.push_back(name + "=" + value);
    return lines;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (auto& text : texts) result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

int exitStatus(int wstatus) {
    return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const Env& env) {
    // All built before the spawn: other threads may hold locks the child must not wait for.
    std::vector<std::string> args = argv, envText = environment(env);
    std::vector<char*> argp = pointers(args), envp = pointers(envText);
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    int failure = posix_spawn(&pid_, argp[0], &actions, &attributes, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(ends[1]);
    out_ = ends[0];
    if (failure != 0) {
        ::close(out_);
        throw std::runtime_error("could not start " + argv.at(0));
    }
}

ChildProcess::~ChildProcess() {
    if (!status_) wait(0);
    ::close(out_);
}

void ChildProcess::kill() {
    if (!status_) ::kill(-pid_, SIGKILL);
}

bool ChildProcess::finished() {
    int wstatus = 0;
    if (!status_ && ::waitpid(pid_, &wstatus, WNOHANG) == pid_) status_ = exitStatus(wstatus);
    return status_.has_value();
}

bool ChildProcess::readSome(int timeoutMs) {
    pollfd wanted{out_, POLLIN, 0};
    if (ended_ || ::poll(&wanted, 1, timeoutMs) <= 0) {
        if (ended_) std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        return false;
    }
    char chunk[4096];
    ssize_t got = ::read(out_, chunk, sizeof chunk);
    ended_ = got <= 0;
    if (!ended_) buffered_.append(chunk, static_cast<size_t>(got));
    return !ended_;
}

std::string ChildProcess::readLine() {
    size_t end;
    while ((end = buffered_.find('\n')) == std::string::npos && readSome(60000)) {
    }
    std::string line = buffered_.substr(0, end);
    buffered_.erase(0, end == std::string::npos ? end : end + 1);
    return line;
}

int ChildProcess::wait(std::optional<double> killAfter) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(killAfter.value_or(1e6));
    while (!finished()) {
        readSome(killAfter ? 2 : 50);  // read all along, so a child that writes much never blocks
        if (killAfter && std::chrono::steady_clock::now() >= deadline) ::kill(-pid_, SIGKILL);
    }
    ::kill(-pid_, SIGKILL);  // whatever the group left running goes now; what it wrote stays
    while (readSome(0)) {
    }
    return *status_;
}

}  // namespace brindle::test
