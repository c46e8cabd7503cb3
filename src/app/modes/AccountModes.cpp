#include "app/Modes.h"

namespace brindle::Modes {

int brindleStatus(const Args&) { notInThisBuild("--brindle-status"); }
int brindleLogout(const Args&) { notInThisBuild("--brindle-logout"); }
int brindleLogin(const Args&) { notInThisBuild("--brindle-login"); }

}  // namespace brindle::Modes
