#pragma once

#include <functional>

namespace brindle::test {

// body's result, run in a forked child without root (uid and gid 65534) so file
// permissions apply; 125 when root could not be dropped, 126 when body threw.
int asUnprivileged(const std::function<int()>& body);

}  // namespace brindle::test
