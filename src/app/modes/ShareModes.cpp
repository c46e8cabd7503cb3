#include "app/Modes.h"

namespace brindle::Modes {

int share(const Args&) { notInThisBuild("--share"); }
int sharedFolderCheck(const Args&) { notInThisBuild("--shared-folder-check"); }

}  // namespace brindle::Modes
