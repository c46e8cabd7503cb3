#include "service/Brindle.h"

#include "common/Error.h"
#include "common/Files.h"
#include "service/HTTP.h"
#include "service/JsonFields.h"
#include "service/Secrets.h"

namespace brindle::Brindle {

namespace {

std::string trimSlashes(std::string_view text) {
    size_t first = text.find_first_not_of('/');
    if (first == std::string_view::npos) return "";
    size_t last = text.find_last_not_of('/');
    return std::string(text.substr(first, last - first + 1));
}

std::string encode(const nlohmann::json& body) {
    try {
        return body.dump();
    } catch (const nlohmann::json::exception& failure) {
        throw Error(std::string("Could not encode the request to Brindle: ") + failure.what());
    }
}

// An account given in the environment, for tests and scripted runs.
std::optional<Account> testAccount() {
    std::optional<std::string> value = Files::env("BRINDLE_TEST_ACCOUNT");
    if (!value) return std::nullopt;
    nlohmann::json parsed = parseObject(*value);
    std::optional<std::string> server = JsonFields::text(parsed, "server");
    std::optional<std::string> token = JsonFields::text(parsed, "device_token");
    if (!server || !token) return std::nullopt;
    return Account{*server, *token};
}

}  // namespace

std::string serverURL() {
    std::optional<std::string> chosen = Files::env("BRINDLE_URL");
    return trimSlashes(chosen ? *chosen : kDefaultServer);
}

std::string defaultHost() {
    std::string_view url = kDefaultServer;
    size_t scheme = url.find("://");
    if (scheme != std::string_view::npos) url.remove_prefix(scheme + 3);
    return std::string(url.substr(0, url.find_first_of("/:")));
}

std::optional<std::string> Answer::error() const {
    return JsonFields::text(json, "error");
}

nlohmann::json parseObject(std::string_view body) {
    nlohmann::json parsed = nlohmann::json::parse(body, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) return nlohmann::json::object();
    return parsed;
}

std::string httpSuffix(int status) {
    return " (HTTP " + std::to_string(status) + ").";
}

Answer api(const std::string& method, const std::string& path, const std::optional<std::string>& token,
           const std::optional<std::string>& server, const std::optional<nlohmann::json>& body) {
    HTTP::Request request;
    request.method = method;
    request.url = (server ? *server : serverURL()) + path;
    request.timeout = kRequestTimeout;
    request.headers.emplace_back("Accept", "application/json");
    if (token) request.headers.emplace_back("Authorization", "Bearer " + *token);
    if (body) {
        request.body = encode(*body);
        request.headers.emplace_back("Content-Type", "application/json");
    }
    HTTP::Response response = HTTP::send(request);
    return {response.status, parseObject(response.body)};
}

Answer api(const std::string& method, const std::string& path, const Account& account,
           const std::optional<nlohmann::json>& body) {
    return api(method, path, account.deviceToken, account.server, body);
}

std::string accountService() {
    return "Larder Brindle" + Files::env("LARDER_KEYCHAIN_SUFFIX").value_or("");
}

std::optional<Account> account() {
    if (std::optional<Account> given = testAccount()) return given;
    const std::string service = accountService();
    std::optional<std::string> token = Secrets::get("device-token", service);
    if (!token || token->empty()) return std::nullopt;
    std::optional<std::string> server = Secrets::get("server", service);
    if (!server || server->empty()) return std::nullopt;
    return Account{*server, *token};
}

void storeAccount(const Account& account) {
    const std::string service = accountService();
    bool stored = Secrets::set(account.server, "server", service);
    stored = stored && Secrets::set(account.deviceToken, "device-token", service);
    if (!stored)
        throw Error("Could not save the sign-in in " + Secrets::file().string() +
                    "; the log says why. Sign in again once it can be written.");
}

void forgetAccount() {
    const std::string service = accountService();
    Secrets::remove("server", service);
    Secrets::remove("device-token", service);
}

}  // namespace brindle::Brindle
