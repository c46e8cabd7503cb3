#pragma once

#include <string>

#include "common/Error.h"

namespace brindle {

// A failure talking to GitHub that carries only its text: raised by the GitHub
// REST client and by the git syncer when it gives up pushing. The sync engine
// drops its cached git syncer when it sees one.
class GitHubError : public Error {
public:
    explicit GitHubError(const std::string& message) : Error(message) {}
};

}  // namespace brindle
