#include "app/CommandLine.h"
#include "app/DesktopHandOff.h"
#include "common/Log.h"

#include <malloc.h>

#include <clocale>
#include <csignal>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    // Two heaps for all threads. With one per thread (glibc's default), a
    // listing built on one thread cannot reuse what another freed, and a
    // large pass's peak memory grows by a tenth; with one, the walks wait
    // on each other's allocations.
    mallopt(M_ARENA_MAX, 2);
    // A closed pipe shows up as a write error where it happens, not as a kill.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> args(argv, argv + argc);
    if (brindle::DesktopHandOff::needed(args)) brindle::DesktopHandOff::run(argv);
    brindle::Log::prepareDefaultFolder();
    return brindle::CommandLine::run(args);
}
