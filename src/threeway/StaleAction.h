#pragma once

#include <stdexcept>
#include <string>

namespace brindle {

// Thrown by an action that finds its file no longer as it was decided on (the
// user changed it meanwhile). Not a failure: the key is decided again after
// the next scan.
class StaleAction : public std::runtime_error {
public:
    explicit StaleAction(const std::string& path) : std::runtime_error(path + " changed meanwhile") {}
};

}  // namespace brindle
