#include "platform/Shell.h"

#include "common/Error.h"
#include "common/Files.h"
#include "common/Process.h"
#include "common/Text.h"

#include <unistd.h>
#include <algorithm>
#include <filesystem>

namespace brindle::Shell {

namespace {

bool isExecutableFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

Result run(const std::string& executable, const std::vector<std::string>& args,
           const std::map<std::string, std::string>& env, double timeout) {
    std::vector<std::string> argv{executable};
    argv.insert(argv.end(), args.begin(), args.end());
    Process::Options options;
    options.env = env;
    options.timeout = timeout;
    try {
        Process::Outcome outcome = Process::run(executable, argv, options);
        return {outcome.status, Text::lossyUTF8(outcome.out), Text::lossyUTF8(outcome.err)};
    } catch (const std::exception& launchError) {
        return {-1, "", launchError.what()};
    }
}

std::string loginShell() {
    auto shell = Files::env("SHELL");
    if (shell && !shell->empty() && (*shell)[0] == '/' && isExecutableFile(*shell)) return *shell;
    return "/bin/sh";
}

std::optional<std::string> find(const std::string& tool) {
    const std::string home = Files::home().string();
    const std::vector<std::string> folders{home + "/.npm-global/bin", "/opt/homebrew/bin", "/usr/local/bin",
                                           home + "/.local/bin", "/usr/bin"};
    for (const auto& folder : folders) {
        std::string candidate = folder + "/" + tool;
        if (isExecutableFile(candidate)) return candidate;
    }
    Result answer = run(loginShell(), {"-l", "-c", "command -v " + tool}, {}, 10);
    std::string found = Text::trim(answer.out);
    if (answer.status == 0 && Text::startsWith(found, "/")) return found;
    return std::nullopt;
}

std::string path(const std::vector<std::optional<std::string>>& including) {
    std::vector<std::string> entries;
    for (const auto& tool : including) {
        if (tool) entries.push_back(std::filesystem::path(*tool).parent_path().string());
    }
    for (const char* fixed : {"/opt/homebrew/bin", "/usr/local/bin", "/usr/bin", "/bin"}) entries.push_back(fixed);
    entries.push_back(Files::env("PATH").value_or(""));

    std::vector<std::string> kept;
    for (auto& entry : entries) {
        if (entry.empty() || std::find(kept.begin(), kept.end(), entry) != kept.end()) continue;
        kept.push_back(entry);
    }
    std::string joined;
    for (const auto& entry : kept) joined += (joined.empty() ? "" : ":") + entry;
    return joined;
}

}  // namespace brindle::Shell
