#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace brindle::Process {

// What a finished child process produced. Output is raw bytes.
struct Outcome {
    int status = 0;  // exit status, the signal number when a signal ended it, -1 when unknown
    std::string out;
    std::string err;
};

struct Options {
    std::map<std::string, std::string> env;  // laid over the inherited environment
    std::optional<std::string> workingDirectory;
    std::optional<double> timeout;  // seconds; SIGTERM once at the deadline
};

// Starts executable with args (argv[0] is the executable), stdin from
// /dev/null, drains stdout and stderr concurrently until both close, and waits
// for the exit. Throws brindle::Error with the launch error's text when the
// program cannot be started. Safe to call from any thread.
Outcome run(const std::string& executable, const std::vector<std::string>& args, const Options& options);

}  // namespace brindle::Process
