#include "app/Modes.h"
#include "engine/SyncEngine.h"

#include <iostream>

namespace brindle::Modes {

// One pass over every store of the account (or the user-set GitHub token),
// with the default folder and state directory.
int syncOnce(const Args&) {
    auto engine = SyncEngine::create();
    SyncResult result = engine->syncOnce();
    if (!result.succeeded()) std::rethrow_exception(result.failure);
    std::cout << "Up to date." << std::endl;
    return 0;
}

}  // namespace brindle::Modes
