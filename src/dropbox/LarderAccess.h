#pragma once

#include "dropbox/DropboxCredentials.h"
#include "service/Brindle.h"

#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace brindle {

// Dropbox credentials handed out by the Brindle service for the signed-in
// device: fetched with POST /api/v1/larder/token?provider=NAME and reused
// until 300 seconds before they expire.
//
// get() holds the lock across the whole fetch, so many transfer threads
// asking at once cause one request and all get its result. Failures are
// Brindle::Failure values with the service's reason, or HTTP::TransportError;
// a failure leaves nothing cached.
class LarderAccess final : public DropboxCredentials {
public:
    using Clock = std::function<double()>;  // seconds since 1970

    static constexpr const char* kDefaultAPIBase = "https://api.dropboxapi.com";
    static constexpr const char* kDefaultContentBase = "https://content.dropboxapi.com";
    // A credential is reused only while it has more than this many seconds left.
    static constexpr double kReuseMargin = 300;
    static constexpr double kTimeout = 60;

    // provider: the store name asked for ("dropbox"). clock: the current time
    // (default the system clock).
    LarderAccess(Brindle::Account account, std::string provider, Clock clock = {});

    DropboxCredential get() override;
    void dropCached() override;

    const Brindle::Account& account() const { return account_; }

private:
    DropboxCredential fetch();  // with lock_ held

    const Brindle::Account account_;
    const std::string provider_;
    const Clock clock_;

    std::mutex lock_;  // guards cached_ and expires_; held across a fetch
    std::optional<DropboxCredential> cached_;
    double expires_ = 0;
};

}  // namespace brindle
