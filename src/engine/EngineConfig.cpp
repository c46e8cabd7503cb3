#include "engine/EngineConfig.h"

#include "common/Files.h"
#include "common/Text.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <fstream>

namespace brindle {

namespace {

constexpr double kDefaultProgressSeconds = 5.0;

// The value of one shell-style assignment, with one pair of matching quotes
// removed and backslash escapes resolved, as /etc/machine-info writes them.
std::string unquote(const std::string& raw) {
    std::string value = Text::trim(raw);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) ++i;
        out += value[i];
    }
    return out;
}

std::string hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return "Linux";
    return name;
}

}  // namespace

std::string trimSlashes(const std::string& text) {
    size_t first = text.find_first_not_of('/');
    if (first == std::string::npos) return "";
    size_t last = text.find_last_not_of('/');
    return text.substr(first, last - first + 1);
}

const std::string& githubBase() {
    static const std::string base = trimSlashes(Files::env("LARDER_GITHUB_BASE").value_or(kGitHubWebBase));
    return base;
}

std::string computerName(const std::filesystem::path& machineInfo) {
    std::ifstream in(machineInfo);
    std::string line;
    while (std::getline(in, line)) {
        std::string trimmed = Text::trim(line);
        if (!Text::startsWith(trimmed, "PRETTY_HOSTNAME=")) continue;
        std::string value = Text::trim(unquote(trimmed.substr(16)));
        if (!value.empty()) return value;
    }
    return hostName();
}

double progressSecondsFrom(const char* text) {
    if (text == nullptr || *text == '\0') return kDefaultProgressSeconds;
    errno = 0;
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !std::isfinite(value) || value < 0) return kDefaultProgressSeconds;
    return value;
}

EngineConfig EngineConfig::fromEnvironment() {
    EngineConfig config;
    auto folder = Files::env("LARDER_FOLDER");
    config.folder = folder && !folder->empty() ? std::filesystem::path(*folder) : Files::home() / "Desktop" / "Larder";
    auto state = Files::env("LARDER_STATE_DIR");
    config.stateDir = state && !state->empty() ? std::filesystem::path(*state)
                                                : Files::xdgDir("XDG_DATA_HOME", ".local/share") / "Larder";
    config.deviceName = computerName();
    config.progressSeconds = progressSecondsFrom(std::getenv("BRINDLE_PROGRESS_SECONDS"));
    config.remoteBase = githubBase();
    return config;
}

}  // namespace brindle
