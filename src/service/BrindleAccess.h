#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "service/Brindle.h"

namespace brindle {

// The GitHub token and repository the service hands out for an account,
// reused while it has more than 300 seconds left. One instance belongs to the
// sync engine; it has no lock of its own, so call it from one thread at a
// time.
class BrindleAccess {
public:
    using Clock = std::chrono::system_clock;

    struct Grant {
        std::string token;
        std::string repo;  // "owner/name"
    };

    // The cached grant when it belongs to account and expires more than 300
    // seconds after now; otherwise a new one from the account's server. A
    // different account (other server or token) always fetches anew.
    // Throws Brindle::Failure (signedOut, disabled, githubNotConnected or
    // other) or HTTP::TransportError; a failure leaves nothing cached.
    Grant get(const Brindle::Account& account, Clock::time_point now);

private:
    std::optional<std::string> token_;
    std::optional<std::string> repo_;
    Clock::time_point expires_{};
    std::optional<Brindle::Account> forAccount_;
};

}  // namespace brindle
