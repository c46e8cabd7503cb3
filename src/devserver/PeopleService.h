#pragma once

#include <map>
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

// The stand-in for the Google People connections listing,
// GET /v1/people/me/connections. Each access token sees its own list of
// person objects, served in pages of at most the requested pageSize (and at
// most pageSize() when a test lowers it), linked by "nextPageToken". An
// unknown or missing token gets 401. Tests can make a token expire once
// (one 401, then served again) or answer any status until cleared.
class PeopleService {
public:
    explicit PeopleService(DevServer& server) : server_(server) {}
    PeopleService(const PeopleService&) = delete;
    PeopleService& operator=(const PeopleService&) = delete;

    // Adds this service's routes to http.
    void install(httplib::Server& http);

    // The connections (People API person objects) that token sees.
    void setConnections(const std::string& token, std::vector<nlohmann::json> people);
    std::vector<nlohmann::json> connections(const std::string& token) const;
    // The largest page served, whatever the client asks for.
    void setPageSize(int size);
    // The next request with token gets 401; the one after is served.
    void expireOnce(const std::string& token);
    // Every request with token gets status (with a Google-style error body)
    // until clearStatus.
    void answerWith(const std::string& token, int status);
    void clearStatus(const std::string& token);

    // A person object as the People API shapes it, for tests and the demo.
    static nlohmann::json person(const std::string& resourceName, const std::string& displayName,
                                 const std::vector<std::string>& emails);

private:
    struct Answer {
        int status = 200;
        std::string body;
    };
    Answer connectionsPage(const std::string& token, const std::string& pageToken, int requested);

    [[maybe_unused]] DevServer& server_;
    mutable std::mutex mutex_;  // guards everything below
    std::map<std::string, std::vector<nlohmann::json>> people_;
    std::set<std::string> expiring_;
    std::map<std::string, int> statuses_;
    int pageSize_ = 1000;
};

}  // namespace brindle::devserver
