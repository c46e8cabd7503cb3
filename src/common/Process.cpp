#include "common/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "common/Error.h"

extern char** environ;

namespace brindle::Process {

namespace {

using Clock = std::chrono::steady_clock;

struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) throw Error(std::string("Could not create a pipe: ") + std::strerror(errno));
        read = fds[0];
        write = fds[1];
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    void closeRead() {
        if (read >= 0) ::close(read);
        read = -1;
    }
    void closeWrite() {
        if (write >= 0) ::close(write);
        write = -1;
    }
};

std::vector<std::string> mergedEnvironment(const std::map<std::string, std::string>& overlay) {
    std::vector<std::string> result;
    for (char** entry = environ; entry && *entry; ++entry) {
        std::string text(*entry);
        std::string name = text.substr(0, text.find('='));
        if (!overlay.count(name)) result.push_back(std::move(text));
    }
    for (const auto& [name, value] : overlay) result.push_back(name + "=" + value);
    return result;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (auto& text : texts) result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

// Reads both pipes until both reach end of file, sending SIGTERM once when the
// deadline passes while the child is still running.
void drain(Pipe& out, Pipe& err, Outcome& outcome, pid_t pid, std::optional<Clock::time_point> deadline) {
    bool terminated = false;
    char buffer[65536];
    while (out.read >= 0 || err.read >= 0) {
        pollfd fds[2];
        int count = 0;
        if (out.read >= 0) fds[count++] = {out.read, POLLIN, 0};
        if (err.read >= 0) fds[count++] = {err.read, POLLIN, 0};
        int wait = -1;
        if (deadline && !terminated) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
            wait = left > 0 ? static_cast<int>(left) : 0;
        }
        int ready = ::poll(fds, static_cast<nfds_t>(count), wait);
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) {
            ::kill(-pid, SIGTERM);
            terminated = true;
            continue;
        }
        for (int i = 0; i < count; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            bool isOut = fds[i].fd == out.read;
            ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                isOut ? out.closeRead() : err.closeRead();
                continue;
            }
            (isOut ? outcome.out : outcome.err).append(buffer, static_cast<size_t>(got));
        }
    }
}

// Waits for the child to end and returns its wait status, or nothing (errno
// set) when waitpid fails for a reason other than an interrupting signal. A
// child that closed its output early may still run: the deadline still holds.
std::optional<int> reap(pid_t pid, std::optional<Clock::time_point> deadline) {
    int status = 0;
    while (deadline) {
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) return status;
        if (done < 0 && errno != EINTR) return std::nullopt;
        if (Clock::now() >= *deadline) {
            ::kill(-pid, SIGTERM);
            break;
        }
        ::usleep(5000);
    }
    for (;;) {
        if (::waitpid(pid, &status, 0) == pid) return status;
        if (errno != EINTR) return std::nullopt;
    }
}

// The child's descriptors: no input, both outputs into the pipes, and the
// working directory when one is asked for.
class FileActions {
public:
    FileActions(const Pipe& out, const Pipe& err, const Options& options) {
        posix_spawn_file_actions_init(&actions_);
        posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions_, out.write, 1);
        posix_spawn_file_actions_adddup2(&actions_, err.write, 2);
        if (options.workingDirectory)
            posix_spawn_file_actions_addchdir_np(&actions_, options.workingDirectory->c_str());
    }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    const posix_spawn_file_actions_t* get() const { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

// Default SIGPIPE and SIGTERM handling and no blocked signals in the child,
// whatever this process set up; with a time-out, a process group of its own
// so that the time-out also ends what it started.
class SpawnAttributes {
public:
    explicit SpawnAttributes(bool ownGroup) {
        posix_spawnattr_init(&attributes_);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        sigaddset(&defaults, SIGTERM);
        posix_spawnattr_setsigdefault(&attributes_, &defaults);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes_, &none);
        short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
        if (ownGroup) {
            posix_spawnattr_setpgroup(&attributes_, 0);
            flags |= POSIX_SPAWN_SETPGROUP;
        }
        posix_spawnattr_setflags(&attributes_, flags);
    }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    const posix_spawnattr_t* get() const { return &attributes_; }

private:
    posix_spawnattr_t attributes_;
};

// Starts the child with its outputs in the pipes. Throws Error when it
// cannot be started.
pid_t spawn(const std::string& executable, const std::vector<std::string>& args, const Options& options,
            const Pipe& out, const Pipe& err) {
    FileActions actions(out, err, options);
    SpawnAttributes attributes(options.timeout.has_value());
    std::vector<std::string> argTexts = args;
    if (argTexts.empty()) argTexts.push_back(executable);
    std::vector<std::string> envTexts = mergedEnvironment(options.env);
    auto argv = pointers(argTexts);
    auto envp = pointers(envTexts);
    pid_t pid = 0;
    int failure = ::posix_spawn(&pid, executable.c_str(), actions.get(), attributes.get(), argv.data(), envp.data());
    if (failure != 0) throw Error("Could not start " + executable + ": " + std::strerror(failure));
    return pid;
}

// The exit status, the terminating signal's number, or -1 (with the reason
// in err) when how the child ended is not known.
void setStatus(Outcome& outcome, std::optional<int> status, const std::string& executable) {
    if (!status) {
        // Without the child's status nothing says it succeeded.
        outcome.status = -1;
        outcome.err += "Could not learn how " + executable + " ended: " + std::strerror(errno);
    } else if (WIFEXITED(*status)) {
        outcome.status = WEXITSTATUS(*status);
    } else if (WIFSIGNALED(*status)) {
        outcome.status = WTERMSIG(*status);
    } else {
        outcome.status = -1;
    }
}

}  // namespace

Outcome run(const std::string& executable, const std::vector<std::string>& args, const Options& options) {
    Pipe out, err;
    pid_t pid = spawn(executable, args, options, out, err);
    out.closeWrite();
    err.closeWrite();
    Outcome outcome;
    std::optional<Clock::time_point> deadline;
    if (options.timeout) {
        deadline =
            Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*options.timeout));
    }
    drain(out, err, outcome, pid, deadline);
    setStatus(outcome, reap(pid, deadline), executable);
    return outcome;
}

}  // namespace brindle::Process
