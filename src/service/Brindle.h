#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "service/BrindleFailure.h"

// The Brindle web service: its base URL, the one JSON call every service
// operation goes through, the signed-in account and the account operations
// (store configuration, tokens, reports). Sign-in lives in BrindleSignIn.h,
// the cached GitHub token in BrindleAccess.h.
//
// Every operation here blocks its calling thread on the network; call them
// from background work only (the sync queue, import queues, command-line
// modes), never from the main loop. All are safe from any thread.
namespace brindle::Brindle {

// The built-in base URL of the service, used when BRINDLE_URL is unset.
inline constexpr const char* kDefaultServer = "https://brindle.app";

// Idle time-out of every service request, in seconds.
inline constexpr double kRequestTimeout = 30;

// The device's sign-in: the service base URL it signed in to and its opaque
// device token. Passed by value to every account operation, which addresses
// the account's own server, never the default one.
struct Account {
    std::string server;
    std::string deviceToken;
    bool operator==(const Account&) const = default;
};

// BRINDLE_URL when set, else kDefaultServer; every leading and trailing "/"
// removed. Read on every call.
std::string serverURL();

// The host name of the built-in base URL ("brindle.app"), shown in messages
// that send the user to the service's web pages.
std::string defaultHost();

// A service answer: the HTTP status and the body read leniently. json is
// always an object; a body that is empty, not JSON, or not an object gives {}.
struct Answer {
    int status = 0;
    nlohmann::json json = nlohmann::json::object();

    // The answer's "error" code when it is a text.
    std::optional<std::string> error() const;
};

// Sends method ("GET" or "POST") to (server, or serverURL() when absent) +
// path, with "Accept: application/json", "Authorization: Bearer " + token
// when a token is given, and body as JSON ("Content-Type: application/json")
// when given. Every HTTP status is returned, never thrown. Throws
// HTTP::TransportError when no answer arrives, and brindle::Error before
// sending anything when body cannot be encoded (text that is not UTF-8).
Answer api(const std::string& method, const std::string& path, const std::optional<std::string>& token = std::nullopt,
           const std::optional<std::string>& server = std::nullopt,
           const std::optional<nlohmann::json>& body = std::nullopt);

// The same call made for an account: its server and its device token.
Answer api(const std::string& method, const std::string& path, const Account& account,
           const std::optional<nlohmann::json>& body = std::nullopt);

// The lenient reading of a body: a JSON object, else an empty object.
nlohmann::json parseObject(std::string_view body);

// " (HTTP " + status + ")." : the ending of every message that has no usable
// error code from the service.
std::string httpSuffix(int status);

// ---- The signed-in account ------------------------------------------------

// The secret-store service of the account items: "Larder Brindle" followed
// directly by LARDER_KEYCHAIN_SUFFIX (nothing when unset).
std::string accountService();

// The stored account, or nothing when signed out. BRINDLE_TEST_ACCOUNT, when
// it holds a JSON object with texts "server" and "device_token", is used
// instead of the stored items; any other value of it is ignored. A device
// token without a server (or either one empty) counts as signed out.
std::optional<Account> account();

// Stores a sign-in: "server" first, then "device-token". Throws
// brindle::Error when either item could not be written.
void storeAccount(const Account& account);

// Deletes the sign-in: "server", then "device-token".
void forgetAccount();

// ---- Store configuration and tokens -----------------------------------------

struct Drive {
    std::string id;
    std::string label;
    bool operator==(const Drive&) const = default;
};

// What the account syncs with: provider names in the service's order
// ("github", "dropbox", or names this program does not know) and the
// registered drives.
struct LarderConfig {
    std::vector<std::string> stores;
    std::vector<Drive> drives;
};

struct GoogleAccount {
    std::string email;
    std::string label;  // possibly empty
    bool operator==(const GoogleAccount&) const = default;
};

// The account's store names. Throws Failure (signedOut on 401; other with
// "Brindle couldn't be reached (HTTP N)." on any status but 200) or
// HTTP::TransportError.
std::vector<std::string> stores(const Account& account);

// The store names and registered drives. Throws as stores() does.
LarderConfig larderConfig(const Account& account);

// The connected GitHub repository ("owner/name"), or nothing. Throws Failure
// only when signed out (and HTTP::TransportError); any other status gives
// whatever the answer holds.
std::optional<std::string> connectedRepo(const Account& account);

// The Google accounts connected on the service, in its order. Throws as
// stores() does.
std::vector<GoogleAccount> googleAccounts(const Account& account);

// A Google access token for email. Throws Failure with the service's reason
// (signedOut, reconnect needed, not connected, or "(HTTP N).") or
// HTTP::TransportError.
std::string googleToken(const std::string& email, const Account& account);

// Sends one sync report {"events": events, "status": status}; sends nothing
// when both are empty. Never throws: the answer and every failure are
// ignored.
void report(const Account& account, const std::vector<nlohmann::json>& events,
            const std::vector<nlohmann::json>& status);

}  // namespace brindle::Brindle
