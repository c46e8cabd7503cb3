#pragma once

#include <stdexcept>
#include <string>

namespace brindle {

// The one base of every failure a user can meet. what() is the exact text the
// menu or the command line shows, unchanged.
class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace brindle
