#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/Error.h"

namespace brindle {

// What one git command produced.
struct GitResult {
    int status = 0;   // git's exit status (the signal number when a signal ended it)
    std::string out;  // standard output, raw bytes
    std::string err;  // standard error as UTF-8, invalid bytes replaced by U+FFFD

    // out as UTF-8 (invalid bytes replaced), trimmed at both ends.
    std::string text() const;
    // out split at every NUL byte, empty pieces dropped, each piece as UTF-8:
    // how every "-z" output is read.
    std::vector<std::string> nulFields() const;
};

// A git command that failed. what() is "git SUBCOMMAND failed: " + git's
// trimmed standard error, or "exit STATUS" when that is empty.
class GitError : public Error {
public:
    GitError(std::vector<std::string> args, GitResult result);

    const std::vector<std::string>& args() const { return args_; }
    const GitResult& result() const { return result_; }

private:
    std::vector<std::string> args_;
    GitResult result_;
};

// The one way the program talks to a repository: /usr/bin/git with a
// separate repository directory and work tree, never interactive.
//
// The access token, when set, reaches git only through the environment of the
// one git process (GIT_CONFIG_COUNT/KEY_0/VALUE_0 carrying an extra
// "Authorization: Basic" header for the GitHub web host); it is never put in
// an argument, a configuration file, a remote URL or a log line.
//
// Used by one syncer on the sync queue at a time; setToken between passes on
// that queue. Not thread-safe otherwise.
class Git {
public:
    static constexpr const char* kExecutable = "/usr/bin/git";
    // The HTTPS base of the GitHub web host, with its trailing "/": the prefix
    // that the token's extra header applies to.
    static constexpr const char* kGitHubWebBase = "https://github.com/";

    Git(std::filesystem::path gitDir, std::filesystem::path workTree, std::optional<std::string> token = std::nullopt);

    // Runs git with args in the work tree and waits for it, however long it
    // takes. A non-zero status is returned, not thrown: callers decide. Throws
    // brindle::Error only when git cannot be started.
    GitResult run(const std::vector<std::string>& args) const;

    // The variables laid over the inherited environment for every command.
    std::map<std::string, std::string> environment() const;

    const std::filesystem::path& gitDir() const { return gitDir_; }
    const std::filesystem::path& workTree() const { return workTree_; }
    const std::optional<std::string>& token() const { return token_; }
    void setToken(std::optional<std::string> token) { token_ = std::move(token); }

private:
    std::filesystem::path gitDir_;
    std::filesystem::path workTree_;
    std::optional<std::string> token_;
};

}  // namespace brindle
