#include "app/Modes.h"

namespace brindle::Modes {

int driveAdd(const Args&) { notInThisBuild("--drive-add"); }

}  // namespace brindle::Modes
