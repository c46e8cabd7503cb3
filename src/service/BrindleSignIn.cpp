#include "service/BrindleSignIn.h"

#include <algorithm>

#include "service/HTTP.h"
#include "service/JsonFields.h"

namespace brindle::Brindle {

namespace {

using nlohmann::json;

// Lenient, as a URL parser would be: a non-empty text without white space,
// control characters or the characters no URL may hold.
bool looksLikeURL(const std::optional<std::string>& text) {
    if (!text || text->empty()) return false;
    return std::none_of(text->begin(), text->end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == 0x7f || std::string_view("\"<>\\^`{|}").find(c) != std::string_view::npos;
    });
}

}  // namespace

DeviceCode requestCode(const std::string& deviceName) {
    Answer answer =
        api("POST", "/api/v1/device/code", std::nullopt, std::nullopt, json{{"name", deviceName}, {"platform", "mac"}});
    const json& body = answer.json;
    std::optional<std::string> deviceCode = JsonFields::text(body, "device_code");
    std::optional<std::string> userCode = JsonFields::text(body, "user_code");
    std::optional<std::string> verification = JsonFields::text(body, "verification_uri");
    std::optional<std::string> complete = JsonFields::text(body, "verification_uri_complete");
    if (answer.status != 200 || body.empty() || !deviceCode || !userCode || !looksLikeURL(verification) ||
        !looksLikeURL(complete))
        throw Failure(Problem::other, "Brindle couldn't start the sign-in" + httpSuffix(answer.status));
    return {*deviceCode,
            *userCode,
            *verification,
            *complete,
            JsonFields::wholeNumber(body, "expires_in").value_or(600),
            JsonFields::wholeNumber(body, "interval").value_or(5)};
}

PollResult poll(const DeviceCode& code) {
    Answer answer =
        api("POST", "/api/v1/device/token", std::nullopt, std::nullopt, json{{"device_code", code.deviceCode}});
    if (answer.status == 200)
        if (std::optional<std::string> token = JsonFields::text(answer.json, "access_token"))
            return {PollResult::Kind::approved, *token};
    std::optional<std::string> error = answer.error();
    if (error == "authorization_pending") return {PollResult::Kind::pending, ""};
    if (error == "slow_down") return {PollResult::Kind::slowDown, ""};
    if (error == "access_denied") return {PollResult::Kind::denied, ""};
    if (error == "expired_token") return {PollResult::Kind::expired, ""};
    std::string reason = error ? *error : "HTTP " + std::to_string(answer.status);
    throw Failure(Problem::other, "Brindle sign-in failed (" + reason + ").");
}

void revoke(const Account& account) {
    try {
        api("POST", "/api/v1/device/revoke", account);
    } catch (const std::exception&) {
        // Signing out goes on without the service.
    }
}

SignInOutcome waitForApproval(const DeviceCode& code, const Sleeper& sleep, const Poller& poller,
                              bool ignorePollFailures) {
    using Kind = SignInOutcome::Kind;
    long long interval = std::max(code.interval, 1LL);
    for (long long elapsed = 0; elapsed < code.expiresIn;) {
        if (!sleep(interval)) return {Kind::cancelled, ""};
        elapsed += interval;
        PollResult result;
        try {
            result = poller(code);
        } catch (const std::exception&) {
            if (!ignorePollFailures) throw;
            continue;
        }
        switch (result.kind) {
            case PollResult::Kind::pending:
                break;
            case PollResult::Kind::slowDown:
                interval += 5;
                break;
            case PollResult::Kind::denied:
                return {Kind::denied, ""};
            case PollResult::Kind::expired:
                return {Kind::expired, ""};
            case PollResult::Kind::approved:
                return {Kind::signedIn, result.deviceToken};
        }
    }
    return {Kind::timedOut, ""};
}

}  // namespace brindle::Brindle
