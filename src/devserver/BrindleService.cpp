#include "devserver/BrindleService.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <chrono>

#include "common/Files.h"
#include "common/Text.h"
#include "devserver/DevServer.h"
#include "common/IsoDate.h"

namespace brindle::devserver {

using nlohmann::json;

namespace {

void answer(httplib::Response& response, int status, const json& body) {
    response.status = status;
    response.set_content(body.dump(), "application/json");
}

void unauthorized(httplib::Response& response) {
    answer(response, 401, {{"error", "unauthorized"}});
}

json bodyOf(const httplib::Request& request) {
    json parsed = json::parse(request.body, nullptr, false);
    return parsed.is_object() ? parsed : json::object();
}

std::string textOf(const json& object, const char* key) {
    auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : "";
}

std::string newUserCode() {
    std::string letters;
    for (char c : Files::newUUID())
        if (std::isalnum(static_cast<unsigned char>(c))) letters.push_back(static_cast<char>(std::toupper(c)));
    return letters.substr(0, 4) + "-" + letters.substr(4, 4);
}

}  // namespace

BrindleService::~BrindleService() {
    holdPolls(false);
}

void BrindleService::install(httplib::Server& http) {
    installSignIn(http);
    installAccount(http);
    installRecords(http);
}

bool BrindleService::authorizes(const httplib::Request& request) const {
    std::string header = request.get_header_value("Authorization");
    if (!Text::startsWith(header, "Bearer ")) return false;
    std::lock_guard<std::mutex> guard(mutex_);
    return acceptsToken(header.substr(7));
}

bool BrindleService::acceptsToken(const std::string& token) const {
    if (token.empty() || revoked_.count(token)) return false;
    return acceptAny_ || known_.count(token);
}

// ---- Sign-in ------------------------------------------------------------------

void BrindleService::installSignIn(httplib::Server& http) {
    http.Post("/api/v1/device/code",
              [this](const httplib::Request& request, httplib::Response& response) { serveCode(request, response); });
    http.Post("/api/v1/device/token",
              [this](const httplib::Request& request, httplib::Response& response) { servePoll(request, response); });
    http.Post("/api/v1/device/revoke", [this](const httplib::Request& request, httplib::Response& response) {
        if (!authorizes(request)) return unauthorized(response);
        std::lock_guard<std::mutex> guard(mutex_);
        revoked_.insert(request.get_header_value("Authorization").substr(7));
        answer(response, 200, json::object());
    });
    // The approval page of the demo: GET shows the codes, POST decides one
    // (?code=USER-CODE&decision=approve|deny).
    http.Get("/device", [this](const httplib::Request&, httplib::Response& response) {
        std::string page = "<html><body><h1>Brindle stand-in sign-in</h1><ul>";
        for (const std::string& code : userCodes()) page += "<li>" + code + "</li>";
        response.set_content(page + "</ul></body></html>", "text/html");
    });
    http.Post("/device", [this](const httplib::Request& request, httplib::Response& response) {
        std::string code = request.get_param_value("code");
        if (request.get_param_value("decision") == "deny")
            deny(code);
        else
            approve(code);
        response.set_content("OK\n", "text/plain");
    });
}

void BrindleService::serveCode(const httplib::Request& request, httplib::Response& response) {
    json body = bodyOf(request);
    Code code;
    code.deviceCode = Files::newUUID();
    code.userCode = newUserCode();
    json reply{{"device_code", code.deviceCode},
               {"user_code", code.userCode},
               {"verification_uri", server_.url() + "/device"},
               {"verification_uri_complete", server_.url() + "/device?code=" + code.userCode}};
    std::lock_guard<std::mutex> guard(mutex_);
    if (expiresIn_) reply["expires_in"] = *expiresIn_;
    if (interval_) reply["interval"] = *interval_;
    deviceNames_.push_back(textOf(body, "name"));
    codes_.push_back(code);
    answer(response, 200, reply);
}

void BrindleService::servePoll(const httplib::Request& request, httplib::Response& response) {
    std::string deviceCode = textOf(bodyOf(request), "device_code");
    std::unique_lock<std::mutex> lock(mutex_);
    released_.wait_for(lock, std::chrono::seconds(20), [this] { return !holding_; });
    ++polls_;
    auto code = std::find_if(codes_.begin(), codes_.end(), [&](const Code& c) { return c.deviceCode == deviceCode; });
    if (code == codes_.end()) return answer(response, 400, {{"error", "invalid_grant"}});
    std::string scripted;
    if (!script_.empty()) {
        scripted = script_.front();
        script_.erase(script_.begin());
    }
    if (scripted == "approve" || (scripted.empty() && code->state == "pending" && server_.options().autoApprove))
        approveCode(*code);
    else if (!scripted.empty())
        return answer(response, 400, {{"error", scripted}});
    if (code->state == "approved")
        return answer(response, 200, {{"access_token", code->token}, {"token_type", "bearer"}});
    if (code->state == "denied") return answer(response, 400, {{"error", "access_denied"}});
    if (code->state == "expired") return answer(response, 400, {{"error", "expired_token"}});
    answer(response, 400, {{"error", "authorization_pending"}});
}

void BrindleService::approveCode(Code& code) {
    if (code.state == "approved") return;
    code.state = "approved";
    code.token = "dev-device-" + Files::newUUID();
    issued_.push_back(code.token);
    known_.insert(code.token);
}

void BrindleService::decide(const std::string& userCode, const std::string& state) {
    std::lock_guard<std::mutex> guard(mutex_);
    for (Code& code : codes_) {
        if (!userCode.empty() && code.userCode != userCode) continue;
        if (state == "approved")
            approveCode(code);
        else
            code.state = state;
    }
}

void BrindleService::approve(const std::string& userCode) {
    decide(userCode, "approved");
}
void BrindleService::deny(const std::string& userCode) {
    decide(userCode, "denied");
}
void BrindleService::expire(const std::string& userCode) {
    decide(userCode, "expired");
}

void BrindleService::holdPolls(bool hold) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        holding_ = hold;
    }
    released_.notify_all();
}

void BrindleService::setCodeTiming(std::optional<long long> expiresIn, std::optional<long long> interval) {
    std::lock_guard<std::mutex> guard(mutex_);
    expiresIn_ = expiresIn;
    interval_ = interval;
}

void BrindleService::scriptPolls(std::vector<std::string> answers) {
    std::lock_guard<std::mutex> guard(mutex_);
    script_ = std::move(answers);
}

std::vector<std::string> BrindleService::userCodes() const {
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<std::string> codes;
    for (const Code& code : codes_) codes.push_back(code.userCode);
    return codes;
}

std::vector<std::string> BrindleService::deviceNames() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return deviceNames_;
}

int BrindleService::pollCount() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return polls_;
}

std::vector<std::string> BrindleService::issuedTokens() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return issued_;
}

void BrindleService::addDeviceToken(const std::string& token) {
    std::lock_guard<std::mutex> guard(mutex_);
    known_.insert(token);
    revoked_.erase(token);
}

void BrindleService::setAcceptAnyToken(bool accept) {
    std::lock_guard<std::mutex> guard(mutex_);
    acceptAny_ = accept;
}

std::vector<std::string> BrindleService::revokedTokens() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return {revoked_.begin(), revoked_.end()};
}

// ---- Account calls ---------------------------------------------------------------

void BrindleService::installAccount(httplib::Server& http) {
    // Wraps a handler of a call that needs the device token.
    auto bearer = [this](void (BrindleService::*serve)(const httplib::Request&, httplib::Response&)) {
        return [this, serve](const httplib::Request& request, httplib::Response& response) {
            if (!authorizes(request)) return unauthorized(response);
            (this->*serve)(request, response);
        };
    };
    http.Get("/api/v1/config", bearer(&BrindleService::serveConfig));
    http.Post("/api/v1/github/token", bearer(&BrindleService::serveGitHubToken));
    http.Post("/api/v1/google/token", bearer(&BrindleService::serveGoogleToken));
    http.Post("/api/v1/drives", bearer(&BrindleService::serveDrive));
    http.Post("/api/v1/shares", bearer(&BrindleService::serveShare));
}

void BrindleService::serveConfig(const httplib::Request&, httplib::Response& response) {
    std::lock_guard<std::mutex> guard(mutex_);
    json larder = larder_.value_or(json::object());
    if (!larder_) {
        larder["stores"] = json::array();
        for (const std::string& provider : stores_) larder["stores"].push_back({{"provider", provider}});
        larder["connected"] = !stores_.empty();
        if (!stores_.empty()) larder["provider"] = stores_.front();
    }
    json github{{"connected", githubRepo_.has_value()}};
    if (githubRepo_) github["repo"] = *githubRepo_;
    json google = json::array(), emails = json::array();
    for (const auto& [email, label] : googleAccounts_) {
        google.push_back({{"account", email}, {"label", label}});
        emails.push_back(email);
    }
    json drives = json::array();
    for (const auto& [id, label] : drives_) drives.push_back({{"drive_id", id}, {"label", label}});
    answer(response, 200,
           {{"larder", larder},
            {"connections", {{"github", github}, {"google_accounts", google}, {"google", emails}}},
            {"drives", drives}});
}

void BrindleService::serveGitHubToken(const httplib::Request&, httplib::Response& response) {
    std::lock_guard<std::mutex> guard(mutex_);
    ++githubRequests_;
    if (disabled_) return answer(response, 403, {{"error", "larder_disabled"}});
    if (!githubRepo_) return answer(response, 409, {{"error", "github_not_connected"}});
    std::string expires =
        githubExpiresAt_.value_or(IsoDate::format(std::chrono::system_clock::now() + std::chrono::hours(1)));
    answer(response, 200, {{"token", githubToken_}, {"repo", *githubRepo_}, {"expires_at", expires}});
}

void BrindleService::serveGoogleToken(const httplib::Request& request, httplib::Response& response) {
    std::string email = textOf(bodyOf(request), "account");
    std::lock_guard<std::mutex> guard(mutex_);
    if (auto error = googleErrors_.find(email); error != googleErrors_.end())
        return answer(response, 409, {{"error", error->second}});
    auto token = googleTokens_.find(email);
    if (token == googleTokens_.end()) return answer(response, 404, {{"error", "google_not_connected"}});
    answer(response, 200, {{"token", token->second}});
}

void BrindleService::serveDrive(const httplib::Request& request, httplib::Response& response) {
    json body = bodyOf(request);
    std::string id = textOf(body, "drive_id"), label = textOf(body, "label");
    if (id.empty()) return answer(response, 400, {{"error", "bad_request"}});
    std::lock_guard<std::mutex> guard(mutex_);
    auto known = std::find_if(drives_.begin(), drives_.end(), [&](const auto& drive) { return drive.first == id; });
    if (known != drives_.end()) {
        known->second = label;
    } else {
        if (drives_.size() >= maxDrives_) return answer(response, 409, {{"error", "too_many_drives"}});
        drives_.emplace_back(id, label);
    }
    answer(response, 200, json::object());
}

void BrindleService::serveShare(const httplib::Request& request, httplib::Response& response) {
    json body = bodyOf(request);
    json emails = body.contains("emails") && body["emails"].is_array() ? body["emails"] : json::array();
    {
        std::lock_guard<std::mutex> guard(mutex_);
        shares_.push_back(body);
    }
    answer(response, 200, {{"result", {{"shared", emails}, {"email_failed", json::array()}}}});
}

// ---- Records ----------------------------------------------------------------------

void BrindleService::installRecords(httplib::Server& http) {
    http.Post("/api/v1/sync/report", [this](const httplib::Request& request, httplib::Response& response) {
        if (!authorizes(request)) return unauthorized(response);
        std::lock_guard<std::mutex> guard(mutex_);
        reports_.push_back(bodyOf(request));
        answer(response, 200, json::object());
    });
    http.Post("/api/v1/drives/seen", [this](const httplib::Request& request, httplib::Response& response) {
        if (!authorizes(request)) return unauthorized(response);
        std::lock_guard<std::mutex> guard(mutex_);
        drivesSeen_.push_back(textOf(bodyOf(request), "drive_id"));
        answer(response, 200, json::object());
    });
    http.Post("/api/v1/morsels", [this](const httplib::Request& request, httplib::Response& response) {
        if (!authorizes(request)) return unauthorized(response);
        std::lock_guard<std::mutex> guard(mutex_);
        morsels_.push_back({request.get_header_value("Content-Type"), request.body});
        answer(response, 200, json::object());
    });
}

void BrindleService::setStores(std::vector<std::string> providers) {
    std::lock_guard<std::mutex> guard(mutex_);
    stores_ = std::move(providers);
    larder_.reset();
}

void BrindleService::setLarder(json larder) {
    std::lock_guard<std::mutex> guard(mutex_);
    larder_ = std::move(larder);
}

void BrindleService::setDrives(std::vector<std::pair<std::string, std::string>> drives) {
    std::lock_guard<std::mutex> guard(mutex_);
    drives_ = std::move(drives);
}

std::vector<std::pair<std::string, std::string>> BrindleService::drives() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return drives_;
}

void BrindleService::setMaxDrives(size_t count) {
    std::lock_guard<std::mutex> guard(mutex_);
    maxDrives_ = count;
}

void BrindleService::setGoogleAccounts(std::vector<std::pair<std::string, std::string>> accounts) {
    std::lock_guard<std::mutex> guard(mutex_);
    googleAccounts_ = std::move(accounts);
}

void BrindleService::setGoogleToken(const std::string& email, const std::string& token) {
    std::lock_guard<std::mutex> guard(mutex_);
    googleTokens_[email] = token;
    googleErrors_.erase(email);
}

void BrindleService::setGoogleError(const std::string& email, const std::string& code) {
    std::lock_guard<std::mutex> guard(mutex_);
    googleErrors_[email] = code;
}

void BrindleService::setGitHubRepo(std::optional<std::string> repo) {
    std::lock_guard<std::mutex> guard(mutex_);
    githubRepo_ = std::move(repo);
}

void BrindleService::setGitHubToken(const std::string& token, std::optional<std::string> expiresAt) {
    std::lock_guard<std::mutex> guard(mutex_);
    githubToken_ = token;
    githubExpiresAt_ = std::move(expiresAt);
}

void BrindleService::setLarderDisabled(bool disabled) {
    std::lock_guard<std::mutex> guard(mutex_);
    disabled_ = disabled;
}

int BrindleService::githubTokenRequests() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return githubRequests_;
}

std::vector<json> BrindleService::reports() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return reports_;
}

std::vector<std::string> BrindleService::drivesSeen() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return drivesSeen_;
}

std::vector<json> BrindleService::shares() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return shares_;
}

std::vector<BrindleService::Morsel> BrindleService::morsels() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return morsels_;
}

}  // namespace brindle::devserver
