#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace brindle::devserver {

class DevServer;

// The stand-in for the Brindle service calls: device-code sign-in (the test
// or the demo decides approval, denial, expiry and slow-down), revocation,
// config, GitHub and Google tokens, sync reports, drives, shares and morsels.
// "/api/v1/larder/token" belongs to DropboxService, which checks the device
// token with authorizes().
//
// Device tokens: by default any non-empty bearer token that has not been
// revoked is accepted (so tests may use BRINDLE_TEST_ACCOUNT with a made-up
// token); setAcceptAnyToken(false) accepts only tokens issued by a sign-in
// or added with addDeviceToken(). Everything else answers 401.
//
// Every member is safe from any thread while the server runs.
class BrindleService {
public:
    explicit BrindleService(DevServer& server) : server_(server) {}
    ~BrindleService();
    BrindleService(const BrindleService&) = delete;
    BrindleService& operator=(const BrindleService&) = delete;

    // Adds this service's routes to http.
    void install(httplib::Server& http);

    // True when request carries "Authorization: Bearer T" with a device
    // token T this service accepts.
    bool authorizes(const httplib::Request& request) const;

    // ---- Sign-in ------------------------------------------------------------

    // "expires_in" and "interval" of the next codes; nothing leaves the field
    // out of the answer. Default 600 and 5.
    void setCodeTiming(std::optional<long long> expiresIn, std::optional<long long> interval);
    // The answers to the next polls, in order, whatever code they poll:
    // "approve" approves the code (and answers its new device token); any
    // other text is answered as {"error": text} with status 400, e.g.
    // "authorization_pending", "slow_down", "access_denied", "expired_token".
    // When the script is used up, each code answers from its own state.
    void scriptPolls(std::vector<std::string> answers);
    // Decide a code (by its user code; "" means every code issued so far).
    void approve(const std::string& userCode = "");
    void deny(const std::string& userCode = "");
    void expire(const std::string& userCode = "");
    // While held, polls wait (up to 20 seconds) before being answered.
    void holdPolls(bool hold);

    std::vector<std::string> userCodes() const;     // issued, oldest first
    std::vector<std::string> deviceNames() const;   // "name" of each code request
    int pollCount() const;                          // polls answered so far
    std::vector<std::string> issuedTokens() const;  // device tokens handed out by sign-ins

    // ---- Device tokens -------------------------------------------------------

    void addDeviceToken(const std::string& token);
    void setAcceptAnyToken(bool accept);
    std::vector<std::string> revokedTokens() const;

    // ---- Configuration ---------------------------------------------------------

    // Provider names served as "larder"."stores" (default ["github"]).
    void setStores(std::vector<std::string> providers);
    // Replaces the whole "larder" object of the config answer.
    void setLarder(nlohmann::json larder);
    // The registered drives (id, label); also grown by POST /api/v1/drives.
    void setDrives(std::vector<std::pair<std::string, std::string>> drives);
    std::vector<std::pair<std::string, std::string>> drives() const;
    void setMaxDrives(size_t count);  // default 5; more answers 409 too_many_drives
    // Google accounts (email, label) served under "google_accounts", with
    // the token each one gets.
    void setGoogleAccounts(std::vector<std::pair<std::string, std::string>> accounts);
    void setGoogleToken(const std::string& email, const std::string& token);
    // Answer the Google token request for email with this "error" code.
    void setGoogleError(const std::string& email, const std::string& code);

    // ---- GitHub access -------------------------------------------------------

    // The connected repository "owner/name" (default "demo/Larder"); nothing
    // means GitHub is not connected (409 github_not_connected).
    void setGitHubRepo(std::optional<std::string> repo);
    // The token and its "expires_at" text (default: "ghs-dev-1", an hour
    // after each request).
    void setGitHubToken(const std::string& token, std::optional<std::string> expiresAt = std::nullopt);
    // Syncing turned off for the account: 403 larder_disabled.
    void setLarderDisabled(bool disabled);
    int githubTokenRequests() const;

    // ---- What the program sent ----------------------------------------------

    std::vector<nlohmann::json> reports() const;  // bodies of /api/v1/sync/report
    std::vector<std::string> drivesSeen() const;  // "drive_id" of each /api/v1/drives/seen
    std::vector<nlohmann::json> shares() const;   // bodies of /api/v1/shares
    struct Morsel {
        std::string contentType;
        std::string body;  // JSON text or the multipart body
    };
    std::vector<Morsel> morsels() const;

private:
    struct Code {
        std::string deviceCode;
        std::string userCode;
        std::string state = "pending";  // pending, approved, denied, expired
        std::string token;              // once approved
    };

    void installSignIn(httplib::Server& http);
    void installAccount(httplib::Server& http);
    void installRecords(httplib::Server& http);
    void serveCode(const httplib::Request& request, httplib::Response& response);
    void servePoll(const httplib::Request& request, httplib::Response& response);
    void serveConfig(const httplib::Request& request, httplib::Response& response);
    void serveGitHubToken(const httplib::Request& request, httplib::Response& response);
    void serveGoogleToken(const httplib::Request& request, httplib::Response& response);
    void serveDrive(const httplib::Request& request, httplib::Response& response);
    void serveShare(const httplib::Request& request, httplib::Response& response);
    // Called with mutex_ held.
    bool acceptsToken(const std::string& token) const;
    void approveCode(Code& code);
    void decide(const std::string& userCode, const std::string& state);

    [[maybe_unused]] DevServer& server_;

    mutable std::mutex mutex_;  // guards every field below
    std::condition_variable released_;
    bool holding_ = false;
    std::optional<long long> expiresIn_ = 600;
    std::optional<long long> interval_ = 5;
    std::vector<std::string> script_;
    std::vector<Code> codes_;
    std::vector<std::string> deviceNames_;
    int polls_ = 0;
    std::vector<std::string> issued_;
    std::set<std::string> known_;
    std::set<std::string> revoked_;
    bool acceptAny_ = true;

    std::optional<nlohmann::json> larder_;
    std::vector<std::string> stores_{"github"};
    std::vector<std::pair<std::string, std::string>> drives_;
    size_t maxDrives_ = 5;
    std::vector<std::pair<std::string, std::string>> googleAccounts_;
    std::map<std::string, std::string> googleTokens_;
    std::map<std::string, std::string> googleErrors_;

    std::optional<std::string> githubRepo_ = "demo/Larder";
    std::string githubToken_ = "ghs-dev-1";
    std::optional<std::string> githubExpiresAt_;
    bool disabled_ = false;
    int githubRequests_ = 0;

    std::vector<nlohmann::json> reports_;
    std::vector<std::string> drivesSeen_;
    std::vector<nlohmann::json> shares_;
    std::vector<Morsel> morsels_;
};

}  // namespace brindle::devserver
