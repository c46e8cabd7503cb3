#include "app/CommandLine.h"
#include "common/Log.h"
#include "ui/TrayApplication.h"

#include <clocale>
#include <csignal>
#include <string>
#include <vector>

// The desktop program: what `brindle` hands over to when the window system
// is needed, with every headless mode too.
int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    // A closed pipe shows up as a write error where it happens, not as a kill.
    std::signal(SIGPIPE, SIG_IGN);
    brindle::Log::prepareDefaultFolder();
    brindle::ui::TrayApplication::install();
    std::vector<std::string> args(argv, argv + argc);
    return brindle::CommandLine::run(args);
}
