#pragma once

namespace httplib {
class Server;
}

namespace brindle::devserver {

class DevServer;

// The stand-in for the Brindle service calls (device sign-in, config, tokens, reports, drives, shares, morsels).
class BrindleService {
public:
    explicit BrindleService(DevServer& server) : server_(server) {}
    BrindleService(const BrindleService&) = delete;
    BrindleService& operator=(const BrindleService&) = delete;

    // Adds this service's routes to http.
    void install(httplib::Server& http);

private:
    [[maybe_unused]] DevServer& server_;
};

}  // namespace brindle::devserver
