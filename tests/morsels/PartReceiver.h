#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace brindle::test {

// A loopback receiver of "/api/v1/morsels" that keeps the form parts of
// every multipart upload as the server side parses them (the stand-in keeps
// only raw bodies, which its HTTP library leaves empty for form uploads).
class PartReceiver {
public:
    struct Part {
        std::string name, filename, contentType, content;
    };

    PartReceiver();
    ~PartReceiver();
    PartReceiver(const PartReceiver&) = delete;
    PartReceiver& operator=(const PartReceiver&) = delete;

    std::string url() const;
    // The parts of each upload received so far, oldest first.
    std::vector<std::vector<Part>> uploads() const;

private:
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;  // guards uploads_
    std::vector<std::vector<Part>> uploads_;
};

}  // namespace brindle::test
