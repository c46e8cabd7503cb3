#pragma once

#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

namespace httplib {
class Server;
}

namespace brindle::devserver {

class DevServer;

// The stand-in for the GitHub REST subset used with a user-set token: GET
// /user, GET /repos/OWNER/NAME and POST /user/repos. One user with one token
// (default "octo" / "ghp-dev-token"); any other bearer token answers 401.
// Every member is safe from any thread while the server runs.
class GitHubService {
public:
    explicit GitHubService(DevServer& server) : server_(server) {}
    GitHubService(const GitHubService&) = delete;
    GitHubService& operator=(const GitHubService&) = delete;

    // Adds this service's routes to http.
    void install(httplib::Server& http);

    void setUser(const std::string& login, const std::string& token);
    // Adds an existing repository "owner/name".
    void addRepo(const std::string& fullName);
    // Every repository "owner/name" that exists now, sorted.
    std::vector<std::string> repos() const;
    // The bodies of every creation request, oldest first.
    std::vector<nlohmann::json> creations() const;

private:
    [[maybe_unused]] DevServer& server_;

    mutable std::mutex mutex_;  // guards every field below
    std::string login_ = "octo";
    std::string token_ = "ghp-dev-token";
    std::set<std::string> repos_;
    std::vector<nlohmann::json> creations_;
};

}  // namespace brindle::devserver
