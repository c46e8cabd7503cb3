#pragma once

namespace httplib {
class Server;
}

namespace brindle::devserver {

class DevServer;

// The stand-in for the GitHub REST subset used with a user-set token (user, repository get and create).
class GitHubService {
public:
    explicit GitHubService(DevServer& server) : server_(server) {}
    GitHubService(const GitHubService&) = delete;
    GitHubService& operator=(const GitHubService&) = delete;

    // Adds this service's routes to http.
    void install(httplib::Server& http);

private:
    [[maybe_unused]] DevServer& server_;
};

}  // namespace brindle::devserver
