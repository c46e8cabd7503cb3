#pragma once

#include <vector>

#include "integrations/GoogleContact.h"

namespace brindle::ContactsMerge {

// Joins the records of all accounts that share an e-mail address, directly or
// through a chain, into one person each. Groups come out in the order of
// their first record; a record without an address stays on its own. The
// longest display name wins (the earlier record on a tie) and brings its
// given and family names; lists are concatenated without duplicates. Pure.
std::vector<MergedContact> merge(const std::vector<GoogleContact>& records);

}  // namespace brindle::ContactsMerge
