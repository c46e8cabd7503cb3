#pragma once

#include <optional>
#include <string>

// The GitHub personal access token a user can paste in to sync without a
// Brindle account: one secret item, service "Larder", account
// "github-token", cached per process after the first read. Any thread may
// call these.
namespace brindle::Keychain {

// The stored token, or nothing. An empty token counts as none for the sync
// engine; this returns it as stored.
std::optional<std::string> token();

// Stores value as the token (the cache first, then the secret file).
void setToken(const std::string& value);

// Forgets the cached token, as a new process would start. For tests.
void forgetCache();

}  // namespace brindle::Keychain
