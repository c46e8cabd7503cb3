#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace brindle::Shell {

struct Result {
    int status = 0;   // termination status; -1 when the process failed to start
    std::string out;  // standard output as UTF-8 (invalid bytes replaced), not trimmed
    std::string err;  // standard error likewise; the launch error's text on a launch failure
};

// Runs executable with args (not including the executable itself), the
// inherited environment with env laid over it, stdin from /dev/null. Asks the
// process to terminate (SIGTERM, once) when it runs longer than timeout
// seconds. Never throws; blocks until the process ended and both pipes are
// drained. Any thread.
Result run(const std::string& executable, const std::vector<std::string>& args,
           const std::map<std::string, std::string>& env, double timeout);

// The absolute path of an executable named tool in the usual install folders,
// else as the user's login shell finds it; nothing when neither finds it.
std::optional<std::string> find(const std::string& tool);

// A colon-separated search path: the folders of the given tools, the usual
// folders, then the inherited PATH as one entry; duplicates dropped.
std::string path(const std::vector<std::optional<std::string>>& including);

// The user's login shell: $SHELL when it names an executable by absolute
// path, else /bin/sh.
std::string loginShell();

}  // namespace brindle::Shell
