#pragma once

#include <string>

#include "common/Error.h"

namespace brindle::Brindle {

// What went wrong with a service operation; callers branch on it (the sync
// engine turns signedOut into its needs-sign-in state and noStore into its
// needs-store state). The text shown to the user is the failure's message.
enum class Problem { signedOut, githubNotConnected, noStore, disabled, other };

// The shared text of every account operation that finds the device signed out.
inline constexpr const char* kSignedOutMessage =
    "You're signed out of Brindle. Choose Sign In to Brindle\u2026 from the menu.";

// The error thrown by service operations. what() is exactly message().
class Failure : public Error {
public:
    Failure(Problem problem, const std::string& message) : Error(message), problem_(problem) {}

    Problem problem() const { return problem_; }
    std::string message() const { return what(); }

    // The failure of any account operation answered with 401.
    static Failure signedOut() { return Failure(Problem::signedOut, kSignedOutMessage); }

private:
    Problem problem_;
};

}  // namespace brindle::Brindle
