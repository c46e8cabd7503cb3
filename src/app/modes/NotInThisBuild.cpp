#include "app/Modes.h"
#include "common/Error.h"

#include <iostream>

namespace brindle::Modes {

void notInThisBuild(const std::string& mode) { throw Error(mode + " is not part of this build yet."); }

int startApplication(const Args&) {
    std::cerr << "The tray application is not part of this build; use one of the command-line modes." << std::endl;
    return 2;
}

int settingsSnapshot(const Args&) { notInThisBuild("--settings-snapshot"); }

}  // namespace brindle::Modes
