#include "service/GitHub.h"

#include <nlohmann/json.hpp>
#include <optional>

#include "common/Files.h"
#include "common/Log.h"
#include "service/HTTP.h"

namespace brindle::GitHub {

namespace {

using nlohmann::json;

struct Reply {
    int status = 0;
    std::optional<json> body;  // present only for a JSON object
};

Reply request(const std::string& method, const std::string& path, const std::string& token,
              const std::optional<json>& body = std::nullopt) {
    HTTP::Request outgoing;
    outgoing.method = method;
    outgoing.url = apiBase() + path;
    outgoing.timeout = 30;
    outgoing.headers = {{"Authorization", "Bearer " + token},
                        {"Accept", "application/vnd.github+json"},
                        {"X-GitHub-Api-Version", "2022-11-28"}};
    if (body) {
        try {
            outgoing.body = body->dump();
        } catch (const json::exception& failure) {
            throw Error(std::string("Could not encode the request to GitHub: ") + failure.what());
        }
        outgoing.headers.emplace_back("Content-Type", "application/json");
    }
    HTTP::Response response = HTTP::send(outgoing);
    Reply reply{response.status, std::nullopt};
    json parsed = json::parse(response.body, nullptr, false);
    if (!parsed.is_discarded() && parsed.is_object()) reply.body = std::move(parsed);
    return reply;
}

bool hasText(const std::optional<json>& body, const char* key) {
    return body && body->contains(key) && (*body)[key].is_string();
}

}  // namespace

std::string apiBase() {
    std::string base = Files::env("BRINDLE_GITHUB_API_URL").value_or(kDefaultAPIBase);
    size_t first = base.find_first_not_of('/');
    if (first == std::string::npos) return "";
    return base.substr(first, base.find_last_not_of('/') - first + 1);
}

std::string currentUser(const std::string& token) {
    Reply reply = request("GET", "/user", token);
    if (reply.status == 200 && hasText(reply.body, "login") && reply.body->contains("id") &&
        (*reply.body)["id"].is_number_integer())
        return (*reply.body)["login"].get<std::string>();
    if (reply.status == 401) throw GitHubError("GitHub rejected the token (401). Set a new one from the menu.");
    throw GitHubError("Could not read GitHub user (HTTP " + std::to_string(reply.status) + ").");
}

void ensureRepo(const std::string& owner, const std::string& name, const std::string& token) {
    Reply check = request("GET", "/repos/" + owner + "/" + name, token);
    if (check.status == 200) return;
    if (check.status != 404) throw GitHubError("Could not check repo (HTTP " + std::to_string(check.status) + ").");
    json body{{"name", name}, {"private", true}, {"description", "Synced by the Brindle app from ~/Desktop/Larder"}};
    Reply created = request("POST", "/user/repos", token, body);
    if (created.status == 201) {
        Log::write("Created GitHub repo " + owner + "/" + name);
        return;
    }
    std::string detail = hasText(created.body, "message") ? (*created.body)["message"].get<std::string>()
                                                          : "HTTP " + std::to_string(created.status);
    throw GitHubError("Could not create repo " + name + ": " + detail + ". Make sure the token has the 'repo' scope.");
}

}  // namespace brindle::GitHub
