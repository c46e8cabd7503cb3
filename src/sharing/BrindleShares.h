#pragma once

#include "common/Error.h"
#include "service/Brindle.h"

#include <string>
#include <vector>

// Sharing files of the Larder folder by e-mail through the Brindle service.
namespace brindle::Brindle {

// What the service did: the addresses it shared with, and those it could not
// e-mail the link to.
struct ShareOutcome {
    std::vector<std::string> shared;
    std::vector<std::string> emailFailed;
};

// The service refused a share. code is its error code ("not_found",
// "not_a_file", ...; may be empty); what() is the message shown.
class ShareFailure : public Error {
public:
    ShareFailure(std::string code, const std::string& message) : Error(message), code_(std::move(code)) {}
    const std::string& code() const { return code_; }

private:
    std::string code_;
};

// The addresses in texts as typed: split at commas, semicolons, spaces, line
// feeds and tabs, trimmed of Unicode white space (no-break spaces too),
// lower-cased, empty pieces and repeats dropped, in
// order of first appearance. No further validation.
std::vector<std::string> splitEmails(const std::vector<std::string>& texts);

// Asks the service to share paths (relative to the Larder folder, "/"
// separators) with addresses, e-mailing each a link with note. Throws
// Failure (signed out) on 401, ShareFailure with the service's "error" code
// and "message" on any other status but 200, and HTTP::TransportError when
// the service cannot be reached. Blocks; call it from background work.
ShareOutcome share(const Account& account, const std::vector<std::string>& paths,
                   const std::vector<std::string>& addresses, const std::string& note);

}  // namespace brindle::Brindle
