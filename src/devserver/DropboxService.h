#pragma once

namespace httplib {
class Server;
}

namespace brindle::devserver {

class DevServer;

// The stand-in for the Dropbox API v2 subset (list_folder, upload, download, delete_v2).
class DropboxService {
public:
    explicit DropboxService(DevServer& server) : server_(server) {}
    DropboxService(const DropboxService&) = delete;
    DropboxService& operator=(const DropboxService&) = delete;

    // Adds this service's routes to http.
    void install(httplib::Server& http);

private:
    [[maybe_unused]] DevServer& server_;
};

}  // namespace brindle::devserver
