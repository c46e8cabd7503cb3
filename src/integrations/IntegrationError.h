#pragma once

#include "common/Error.h"

namespace brindle {

// The failure of a Plaud, contacts or Loft import. notConfigured marks an
// integration that is simply not set up on this machine (the tool is missing,
// no account is connected): such failures are shown but not logged.
class IntegrationError : public Error {
public:
    explicit IntegrationError(const std::string& message, bool notConfigured = false)
        : Error(message), notConfigured_(notConfigured) {}

    bool notConfigured() const { return notConfigured_; }

private:
    bool notConfigured_;
};

}  // namespace brindle
