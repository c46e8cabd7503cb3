#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace brindle::devserver {

class BrindleService;
class GitHubService;
class DropboxService;
class PeopleService;

// One request as the stand-in received it, kept for assertions.
struct Recorded {
    std::string method;
    std::string path;  // without the query
    std::map<std::string, std::string> query;
    std::multimap<std::string, std::string> headers;  // names as sent
    std::string body;
    std::string header(const std::string& name) const;  // "" when absent; name case-insensitive
};

// A fault the stand-in serves instead of the real answer.
struct Fault {
    enum class Kind {
        Status,    // answer with status, body and headers below
        Drop,      // send the headers, then close the connection mid-body
        Truncate,  // serve the real answer but cut its body in half
    };
    Kind kind = Kind::Status;
    int status = 500;
    std::string body;
    std::map<std::string, std::string> headers;
};

// What the stand-in serves on startup.
struct Options {
    std::string host = "127.0.0.1";
    int port = 0;                      // 0: an ephemeral port
    std::filesystem::path dataFolder;  // empty: a new temporary folder, removed on stop
    bool autoApprove = false;          // device codes approve on the first poll
};

// The loopback stand-in for every outside service: the Brindle service, the
// GitHub REST subset, the Dropbox API v2 subset and the Google People
// connections listing, all on one port. Tests run it in-process; the
// brindle-devserver program runs it for the demo. Every member is safe to call
// from any thread while the server runs.
class DevServer {
public:
    explicit DevServer(Options options = {});
    ~DevServer();
    DevServer(const DevServer&) = delete;
    DevServer& operator=(const DevServer&) = delete;

    // Binds and starts serving on a thread of its own; throws brindle::Error
    // when the port cannot be bound.
    void start();
    // Stops serving and joins the thread. Called by the destructor.
    void stop();

    int port() const { return port_; }
    std::string url() const;  // "http://127.0.0.1:PORT"
    const std::filesystem::path& dataFolder() const { return dataFolder_; }
    const Options& options() const { return options_; }

    // Every request received so far, oldest first; requestsTo filters by
    // exact path.
    std::vector<Recorded> requests() const;
    std::vector<Recorded> requestsTo(const std::string& path) const;
    void clearRequests();

    // Serves fault instead of the real answer to the next `count` requests
    // whose path starts with pathPrefix.
    void injectFault(const std::string& pathPrefix, Fault fault, int count = 1);
    // Serves the faults in turn to every `period`-th request under pathPrefix
    // (the period-th, 2*period-th, ...), until clearFaults().
    void injectEvery(const std::string& pathPrefix, int period, std::vector<Fault> faults);
    void clearFaults();

    BrindleService& brindle() { return *brindle_; }
    GitHubService& github() { return *github_; }
    DropboxService& dropbox() { return *dropbox_; }
    PeopleService& people() { return *people_; }

private:
    struct PlannedFault {
        std::string prefix;
        Fault fault;
        int remaining = 0;
    };
    struct PeriodicFault {
        std::string prefix;
        int period = 0;
        std::vector<Fault> faults;
        int seen = 0;
        size_t next = 0;
    };

    void installRoutes();
    // Records the request and returns the fault it gets, if any.
    std::optional<Fault> admit(const httplib::Request& request);
    // Completes the record of request with its body, once httplib read it.
    void recordBody(const httplib::Request& request);
    static void serveFault(const Fault& fault, httplib::Response& response);

    Options options_;
    std::filesystem::path dataFolder_;
    bool ownsDataFolder_ = false;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;

    mutable std::mutex mutex_;  // guards requests_, unread_, planned_, periodic_
    std::vector<Recorded> requests_;
    // Requests whose body httplib reads only after admit(): index in requests_.
    std::map<const httplib::Request*, size_t> unread_;
    std::vector<PlannedFault> planned_;
    std::vector<PeriodicFault> periodic_;

    std::unique_ptr<BrindleService> brindle_;
    std::unique_ptr<GitHubService> github_;
    std::unique_ptr<DropboxService> dropbox_;
    std::unique_ptr<PeopleService> people_;
};

}  // namespace brindle::devserver
