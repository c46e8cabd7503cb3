#include "app/Modes.h"

namespace brindle::Modes {

int syncOnceFolder(const Args&) { notInThisBuild("--sync-once FOLDER GITDIR REMOTE DEVICE"); }

}  // namespace brindle::Modes
