#pragma once

#include <functional>

namespace brindle::test {

// Runs body in a forked child that has given up root (uid and gid 65534, no
// supplementary groups), so that file permissions apply to it, and returns
// the child's exit status (body's result; 125 when privileges could not be
// dropped, 126 when body threw). The child never returns into the test.
int asUnprivileged(const std::function<int()>& body);

}  // namespace brindle::test
