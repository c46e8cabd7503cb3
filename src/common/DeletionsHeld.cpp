#include "common/DeletionsHeld.h"

#include "common/Text.h"

namespace brindle {

DeletionsHeld::DeletionsHeld(std::string store, Side side, long long gone, long long known)
    : Error(Text::grouped(gone) + " of " + Text::grouped(known) + " files are gone from " +
            (side == Side::here ? store : "the folder") + "; nothing was deleted " +
            (side == Side::here ? std::string("here") : "in " + store) + "."),
      store_(std::move(store)),
      side_(side),
      gone_(gone),
      known_(known) {}

}  // namespace brindle
