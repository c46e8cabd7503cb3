#include "app/CommandLine.h"
#include "common/Log.h"
#ifdef BRINDLE_HAVE_UI
#include "ui/TrayApplication.h"
#endif

#include <clocale>
#include <csignal>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    // A closed pipe shows up as a write error where it happens, not as a kill.
    std::signal(SIGPIPE, SIG_IGN);
    brindle::Log::prepareDefaultFolder();
#ifdef BRINDLE_HAVE_UI
    brindle::ui::TrayApplication::install();
#endif
    std::vector<std::string> args(argv, argv + argc);
    return brindle::CommandLine::run(args);
}
