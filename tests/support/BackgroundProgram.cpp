#include "support/BackgroundProgram.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

extern char** environ;

namespace brindle::test {

BackgroundProgram::BackgroundProgram(const std::vector<std::string>& args,
                                     const std::map<std::string, std::string>& env) {
    std::vector<std::string> entries;
    for (char** at = environ; *at; ++at) {
        std::string entry = *at;
        if (!env.count(entry.substr(0, entry.find('=')))) entries.push_back(entry);
    }
    for (const auto& [name, value] : env) entries.push_back(name + "=" + value);
    std::vector<std::string> argv{BRINDLE_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> envp, argp;
    for (auto& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);
    for (auto& arg : argv) argp.push_back(arg.data());
    argp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, argp[0], &actions, nullptr, argp.data(), envp.data()) == 0) pid_ = pid;
    posix_spawn_file_actions_destroy(&actions);
}

BackgroundProgram::~BackgroundProgram() {
    if (status_ < 0 && pid_ > 0) kill();
}

bool BackgroundProgram::finished() {
    if (status_ >= 0 || pid_ <= 0) return true;
    int wstatus = 0;
    if (::waitpid(pid_, &wstatus, WNOHANG) != pid_) return false;
    status_ = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    return true;
}

void BackgroundProgram::kill() {
    if (status_ >= 0 || pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    wait();
}

int BackgroundProgram::wait() {
    if (status_ >= 0 || pid_ <= 0) return status_;
    int wstatus = 0;
    while (::waitpid(pid_, &wstatus, 0) < 0) {
    }
    status_ = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    return status_;
}

}  // namespace brindle::test
