#include "PartReceiver.h"

#include <httplib.h>

#include <chrono>

namespace brindle::test {

PartReceiver::PartReceiver() : server_(std::make_unique<httplib::Server>()) {
    server_->Post("/api/v1/morsels", [this](const httplib::Request& request, httplib::Response& response) {
        std::vector<Part> parts;
        for (const auto& [name, file] : request.files)
            parts.push_back({file.name, file.filename, file.content_type, file.content});
        {
            std::lock_guard<std::mutex> guard(mutex_);
            uploads_.push_back(std::move(parts));
        }
        response.set_content("{}", "application/json");
    });
    port_ = server_->bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // Stopping before the loop runs would leave it running for ever.
    while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

PartReceiver::~PartReceiver() {
    server_->stop();
    thread_.join();
}

std::string PartReceiver::url() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::vector<std::vector<PartReceiver::Part>> PartReceiver::uploads() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return uploads_;
}

}  // namespace brindle::test
