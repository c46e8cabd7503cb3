#include "devserver/GitHubService.h"

#include <httplib.h>

namespace brindle::devserver {

using nlohmann::json;

namespace {

void answer(httplib::Response& response, int status, const json& body) {
    response.status = status;
    response.set_content(body.dump(), "application/json");
}

}  // namespace

void GitHubService::install(httplib::Server& http) {
    // Answers 401 and returns false unless the request carries the user's token.
    auto signedIn = [this](const httplib::Request& request, httplib::Response& response) {
        std::string header = request.get_header_value("Authorization");
        std::lock_guard<std::mutex> guard(mutex_);
        if (header == "Bearer " + token_) return true;
        answer(response, 401, {{"message", "Bad credentials"}});
        return false;
    };
    http.Get("/user", [this, signedIn](const httplib::Request& request, httplib::Response& response) {
        if (!signedIn(request, response)) return;
        std::lock_guard<std::mutex> guard(mutex_);
        answer(response, 200, {{"login", login_}, {"id", 1001}});
    });
    http.Get(R"(/repos/([^/]+)/([^/]+))",
             [this, signedIn](const httplib::Request& request, httplib::Response& response) {
                 if (!signedIn(request, response)) return;
                 std::string fullName = std::string(request.matches[1]) + "/" + std::string(request.matches[2]);
                 std::lock_guard<std::mutex> guard(mutex_);
                 if (repos_.count(fullName))
                     answer(response, 200, {{"full_name", fullName}, {"private", true}});
                 else
                     answer(response, 404, {{"message", "Not Found"}});
             });
    http.Post("/user/repos", [this, signedIn](const httplib::Request& request, httplib::Response& response) {
        if (!signedIn(request, response)) return;
        json body = json::parse(request.body, nullptr, false);
        if (!body.is_object() || !body.contains("name") || !body["name"].is_string())
            return answer(response, 422, {{"message", "Repository creation failed."}});
        std::lock_guard<std::mutex> guard(mutex_);
        creations_.push_back(body);
        std::string fullName = login_ + "/" + body["name"].get<std::string>();
        if (!repos_.insert(fullName).second)
            return answer(response, 422, {{"message", "name already exists on this account"}});
        answer(response, 201,
               {{"full_name", fullName},
                {"private", body.contains("private") && body["private"].is_boolean() && body["private"].get<bool>()}});
    });
}

void GitHubService::setUser(const std::string& login, const std::string& token) {
    std::lock_guard<std::mutex> guard(mutex_);
    login_ = login;
    token_ = token;
}

void GitHubService::addRepo(const std::string& fullName) {
    std::lock_guard<std::mutex> guard(mutex_);
    repos_.insert(fullName);
}

std::vector<std::string> GitHubService::repos() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return {repos_.begin(), repos_.end()};
}

std::vector<json> GitHubService::creations() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return creations_;
}

}  // namespace brindle::devserver
