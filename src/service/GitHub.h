#pragma once

#include <string>

#include "service/GitHubError.h"

// The small, blocking GitHub REST client used with a personal access token
// the user set (no Brindle account): whose token it is, and making sure that
// user's repository exists. Called only on the sync queue.
namespace brindle::GitHub {

// The public REST base; BRINDLE_GITHUB_API_URL replaces it (every leading
// and trailing "/" removed), e.g. to point at the stand-in server.
inline constexpr const char* kDefaultAPIBase = "https://api.github.com";

// The REST base in effect.
std::string apiBase();

// The login of the token's user. Throws GitHubError ("GitHub rejected the
// token (401). Set a new one from the menu." or "Could not read GitHub user
// (HTTP N).") or HTTP::TransportError.
std::string currentUser(const std::string& token);

// Returns when owner/name exists, creating it (private) when GitHub says it
// does not. Throws GitHubError ("Could not check repo (HTTP N)." or "Could
// not create repo NAME: DETAIL. Make sure the token has the 'repo' scope.")
// or HTTP::TransportError.
void ensureRepo(const std::string& owner, const std::string& name, const std::string& token);

}  // namespace brindle::GitHub
