#include "git/Git.h"

#include "common/Process.h"
#include "common/Text.h"

namespace brindle {

std::string GitResult::text() const {
    return Text::trim(Text::lossyUTF8(out));
}

std::vector<std::string> GitResult::nulFields() const {
    std::vector<std::string> fields;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\0', start);
        if (end == std::string::npos) end = out.size();
        if (end > start) fields.push_back(Text::lossyUTF8(std::string_view(out).substr(start, end - start)));
        start = end + 1;
    }
    return fields;
}

namespace {

std::string describe(const std::vector<std::string>& args, const GitResult& result) {
    std::string complaint = Text::trim(result.err);
    if (complaint.empty()) complaint = "exit " + std::to_string(result.status);
    return "git " + (args.empty() ? std::string() : args.front()) + " failed: " + complaint;
}

}  // namespace

GitError::GitError(std::vector<std::string> args, GitResult result)
    : Error(describe(args, result)), args_(std::move(args)), result_(std::move(result)) {}

Git::Git(std::filesystem::path gitDir, std::filesystem::path workTree, std::optional<std::string> token)
    : gitDir_(std::move(gitDir)), workTree_(std::move(workTree)), token_(std::move(token)) {}

std::map<std::string, std::string> Git::environment() const {
    std::map<std::string, std::string> env{
        {"GIT_DIR", gitDir_.string()},
        {"GIT_WORK_TREE", workTree_.string()},
        {"GIT_TERMINAL_PROMPT", "0"},
        {"GIT_EDITOR", "true"},
    };
    if (token_) {
        env["GIT_CONFIG_COUNT"] = "1";
        env["GIT_CONFIG_KEY_0"] = std::string("http.") + kGitHubWebBase + ".extraheader";
        env["GIT_CONFIG_VALUE_0"] = "Authorization: Basic " + Text::base64("x-access-token:" + *token_);
    }
    return env;
}

GitResult Git::run(const std::vector<std::string>& args) const {
    std::vector<std::string> argv{kExecutable};
    argv.insert(argv.end(), args.begin(), args.end());
    Process::Options options;
    options.env = environment();
    options.workingDirectory = workTree_.string();
    // No time-out: a large fetch or push runs as long as it needs; the prompt
    // and the editor are disabled above, so git never waits for input.
    Process::Outcome outcome = Process::run(kExecutable, argv, options);
    return {outcome.status, std::move(outcome.out), Text::lossyUTF8(outcome.err)};
}

}  // namespace brindle
