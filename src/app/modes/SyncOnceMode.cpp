#include "app/Modes.h"

namespace brindle::Modes {

int syncOnce(const Args&) { notInThisBuild("--sync-once"); }

}  // namespace brindle::Modes
