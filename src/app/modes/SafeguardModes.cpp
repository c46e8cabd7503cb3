#include "app/Modes.h"
#include "common/DeletionGuard.h"
#include "engine/EngineConfig.h"

#include <iostream>

namespace brindle::Modes {

// Lets the next run of the store named LABEL ("Dropbox", "GitHub" or a
// drive's label) carry out the deletions it held back.
int confirmDeletions(const Args& args) {
    const std::string& label = args.at(2);
    DeletionGuard::answer(EngineConfig::fromEnvironment().stateDir, label, DeletionGuard::Answer::deleteThem);
    std::cout << "The next sync of " << label << " deletes the files that are gone." << std::endl;
    return 0;
}

}  // namespace brindle::Modes
