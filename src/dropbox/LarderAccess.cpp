#include "dropbox/LarderAccess.h"

#include "common/IsoDate.h"
#include "service/HTTP.h"

namespace brindle {

namespace {

std::string trimSlashes(const std::string& text) {
    size_t first = text.find_first_not_of('/');
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of('/') - first + 1);
}

std::string textOr(const nlohmann::json& object, const char* name, const std::string& fallback) {
    auto found = object.find(name);
    return found != object.end() && found->is_string() ? found->get<std::string>() : fallback;
}

Brindle::Failure failureFor(int status, const std::string& code, const std::string& server) {
    using Brindle::Problem;
    std::string notConnected = "Dropbox isn't connected to your Brindle account. Connect it at " + server + "/connections";
    if (status == 401) return Brindle::Failure::signedOut();
    if (status == 404 || (status == 409 && code == "larder_not_connected")) return {Problem::noStore, notConnected};
    if (status == 409 && code == "larder_needs_reconnect")
        return {Problem::other, "Dropbox needs to be connected again. Reconnect it at " + server + "/connections"};
    if (status == 403 && code == "larder_disabled")
        return {Problem::disabled, "Syncing is turned off for your account. Turn it on at " + server + "/dashboard"};
    return {Problem::other, "Brindle couldn't provide Dropbox access (HTTP " + std::to_string(status) + ")."};
}

}  // namespace

LarderAccess::LarderAccess(Brindle::Account account, std::string provider, Clock clock)
    : account_(std::move(account)), provider_(std::move(provider)), clock_(clock ? std::move(clock) : Clock(IsoDate::nowSeconds)) {}

DropboxCredential LarderAccess::get() {
    std::lock_guard<std::mutex> guard(lock_);
    if (cached_ && expires_ - clock_() > kReuseMargin) return *cached_;
    cached_.reset();
    return fetch();
}

void LarderAccess::dropCached() {
    std::lock_guard<std::mutex> guard(lock_);
    cached_.reset();
}

DropboxCredential LarderAccess::fetch() {
    HTTP::Request request;
    request.method = "POST";
    request.url = account_.server + "/api/v1/larder/token?provider=" + provider_;
    request.headers = {{"Accept", "application/json"}, {"Authorization", "Bearer " + account_.deviceToken}};
    request.timeout = kTimeout;
    HTTP::Response response = HTTP::send(request);
    nlohmann::json answer = Brindle::parseObject(response.body);

    auto token = answer.find("token");
    std::optional<double> expires = IsoDate::parseSeconds(textOr(answer, "expires_at", ""));
    if (response.status != 200 || token == answer.end() || !token->is_string() || !expires)
        throw failureFor(response.status, textOr(answer, "error", ""), account_.server);
    DropboxCredential credential{token->get<std::string>(), trimSlashes(textOr(answer, "api_base", kDefaultAPIBase)),
                                 trimSlashes(textOr(answer, "content_base", kDefaultContentBase)),
                                 textOr(answer, "account", "")};
    cached_ = credential;
    expires_ = *expires;
    return credential;
}

}  // namespace brindle
