#include "service/BrindleAccess.h"

#include "common/IsoDate.h"
#include "service/JsonFields.h"

namespace brindle {

using Brindle::Failure;
using Brindle::Problem;

namespace {

constexpr std::chrono::seconds kReuseMargin{300};

[[noreturn]] void refuse(const Brindle::Answer& answer, const Brindle::Account& account) {
    if (answer.status == 401) throw Failure::signedOut();
    std::optional<std::string> code = answer.error();
    if (answer.status == 403 && code == "larder_disabled")
        throw Failure(Problem::disabled,
                      "Syncing is turned off for your account. Turn it on at " + account.server + "/dashboard");
    if (answer.status == 409 && code == "github_not_connected")
        throw Failure(
            Problem::githubNotConnected,
            "GitHub isn't connected to your Brindle account yet. Connect it at " + account.server + "/connections");
    throw Failure(Problem::other, "Brindle couldn't provide GitHub access" + Brindle::httpSuffix(answer.status));
}

}  // namespace

BrindleAccess::Grant BrindleAccess::get(const Brindle::Account& account, Clock::time_point now) {
    if (forAccount_ == account && token_ && repo_ && expires_ - now > kReuseMargin) return {*token_, *repo_};
    token_.reset();
    forAccount_ = account;
    Brindle::Answer answer = Brindle::api("POST", "/api/v1/github/token", account);
    std::optional<std::string> token = JsonFields::text(answer.json, "token");
    std::optional<std::string> repo = JsonFields::text(answer.json, "repo");
    std::optional<std::string> expiresAt = JsonFields::text(answer.json, "expires_at");
    std::optional<Clock::time_point> expires = expiresAt ? IsoDate::parse(*expiresAt) : std::nullopt;
    if (answer.status != 200 || !token || !repo || !expires) refuse(answer, account);
    token_ = token;
    repo_ = repo;
    expires_ = *expires;
    return {*token, *repo};
}

}  // namespace brindle
