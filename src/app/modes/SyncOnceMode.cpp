#include "app/Modes.h"
#include "engine/SyncEngine.h"

#include <cstdlib>
#include <iostream>

namespace brindle::Modes {

// One pass over every store of the account (or the user-set GitHub token),
// with the default folder and state directory.
int syncOnce(const Args&) {
    auto engine = SyncEngine::create();
    SyncResult result = engine->syncOnce();
    if (!result.succeeded()) std::rethrow_exception(result.failure);
    if (!result.unsyncable.empty()) {
        // One line, whatever the names hold: the log has each file.
        std::string first = result.unsyncable.front();
        for (char& c : first)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
        std::cerr << "Warning: " << result.unsyncable.size()
                  << " file(s) are not kept in step (each is named in the log). First: " << first << std::endl;
    }
    std::cout << "Up to date." << std::endl;
    // The pass is over and saved: a one-shot run leaves its memory to the
    // kernel, since taking apart the records of every file costs more than
    // a pass that found nothing to do.
    std::cerr.flush();
    std::_Exit(0);
}

}  // namespace brindle::Modes
