#include "app/Modes.h"

namespace brindle::Modes {

int morselClipboard(const Args&) { notInThisBuild("--morsel-clipboard"); }

}  // namespace brindle::Modes
