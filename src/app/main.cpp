#include "app/CommandLine.h"
#include "app/DesktopHandOff.h"
#include "common/Log.h"

#include <clocale>
#include <csignal>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    // A closed pipe shows up as a write error where it happens, not as a kill.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> args(argv, argv + argc);
    if (brindle::DesktopHandOff::needed(args)) brindle::DesktopHandOff::run(argv);
    brindle::Log::prepareDefaultFolder();
    return brindle::CommandLine::run(args);
}
