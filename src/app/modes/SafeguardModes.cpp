#include "app/Modes.h"
#include "common/DeletionGuard.h"
#include "engine/EngineConfig.h"
#include "engine/SyncEngine.h"

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

// Prints what one pass would do for every store, changing nothing. Exits 1
// when a store could not be looked at (its count line says why).
int preview(const Args&) {
    auto engine = SyncEngine::create();
    SyncEngine::Preview preview = engine->preview();
    for (const std::string& line : preview.lines) std::cout << line << "\n";
    std::cout.flush();
    return preview.complete ? 0 : 1;
}

}  // namespace brindle::Modes
