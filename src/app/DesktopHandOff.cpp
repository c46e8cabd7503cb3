#include "app/DesktopHandOff.h"

#include "app/CommandLine.h"
#include "common/Files.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>

namespace brindle::DesktopHandOff {

namespace fs = std::filesystem;

namespace {

// Beside this program in a build, under libexec when installed.
std::optional<fs::path> desktopProgram(const fs::path& self) {
    for (const fs::path& candidate :
         {self.parent_path() / "brindle-desktop", self.parent_path().parent_path() / "libexec/brindle/brindle-desktop"})
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    return std::nullopt;
}

}  // namespace

bool needed(const std::vector<std::string>& args) {
    std::string mode;
    CommandLine::select(args, &mode);
    if (mode == "--morsel-clipboard") {
        std::optional<std::string> named = Files::env("BRINDLE_TEST_PASTEBOARD");
        return !named || named->empty();
    }
    return mode == "application" || mode == "--settings-snapshot";
}

bool run(char** argv) {
    std::error_code error;
    fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (error) return false;
    std::optional<fs::path> desktop = desktopProgram(self);
    if (!desktop) return false;
    ::setenv("BRINDLE_LAUNCHER", self.c_str(), 1);
    ::execv(desktop->c_str(), argv);
    std::cerr << "error: Couldn't start " << desktop->string() << ": " << std::strerror(errno) << std::endl;
    std::exit(1);
}

}  // namespace brindle::DesktopHandOff
