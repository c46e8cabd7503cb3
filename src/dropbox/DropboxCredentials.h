#pragma once

#include <string>

namespace brindle {

// A short-lived Dropbox access token with the endpoints it is good for.
struct DropboxCredential {
    std::string token;        // sent as "Authorization: Bearer " + token
    std::string apiBase;      // API endpoint base URL, no trailing "/"
    std::string contentBase;  // content endpoint base URL, no trailing "/"
    std::string account;      // the Dropbox account id

    bool operator==(const DropboxCredential&) const = default;
};

// Where the Dropbox client gets its credential. Implementations are called
// from every transfer worker at once and must be thread-safe.
class DropboxCredentials {
public:
    virtual ~DropboxCredentials() = default;

    // The credential to use now; throws the source's own error (its text is
    // shown to the user unchanged) when none can be had.
    virtual DropboxCredential get() = 0;
    // Forgets a cached credential that Dropbox refused, so the next get()
    // fetches a fresh one.
    virtual void dropCached() = 0;
};

}  // namespace brindle
