#pragma once

namespace httplib {
class Server;
}

namespace brindle::devserver {

class DevServer;

// The stand-in for the Google People connections listing.
class PeopleService {
public:
    explicit PeopleService(DevServer& server) : server_(server) {}
    PeopleService(const PeopleService&) = delete;
    PeopleService& operator=(const PeopleService&) = delete;

    // Adds this service's routes to http.
    void install(httplib::Server& http);

private:
    [[maybe_unused]] DevServer& server_;
};

}  // namespace brindle::devserver
