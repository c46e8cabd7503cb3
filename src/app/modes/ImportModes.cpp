#include "app/Modes.h"

namespace brindle::Modes {

int plaudOnce(const Args&) { notInThisBuild("--plaud-once"); }
int contactsOnce(const Args&) { notInThisBuild("--contacts-once"); }

}  // namespace brindle::Modes
