#include "devserver/DevServer.h"

#include "common/Error.h"
#include "common/Files.h"
#include "common/Text.h"
#include "devserver/BrindleService.h"
#include "devserver/DropboxService.h"
#include "devserver/GitHubService.h"
#include "devserver/PeopleService.h"

#include <httplib.h>

#include <chrono>
#include <thread>

namespace brindle::devserver {

namespace {

const char* kTruncateMark = "X-Devserver-Truncate";

}  // namespace

std::string Recorded::header(const std::string& name) const {
    const std::string wanted = Text::lowerASCII(name);
    for (const auto& [key, value] : headers)
        if (Text::lowerASCII(key) == wanted) return value;
    return "";
}

DevServer::DevServer(Options options) : options_(std::move(options)), server_(std::make_unique<httplib::Server>()) {
    dataFolder_ = options_.dataFolder;
    if (dataFolder_.empty()) {
        dataFolder_ = std::filesystem::temp_directory_path() / ("brindle-devserver-" + Files::newUUID());
        ownsDataFolder_ = true;
    }
    std::filesystem::create_directories(dataFolder_);
    brindle_ = std::make_unique<BrindleService>(*this);
    github_ = std::make_unique<GitHubService>(*this);
    dropbox_ = std::make_unique<DropboxService>(*this);
    people_ = std::make_unique<PeopleService>(*this);
    installRoutes();
}

DevServer::~DevServer() {
    stop();
    if (ownsDataFolder_) {
        std::error_code ignored;
        std::filesystem::remove_all(dataFolder_, ignored);
    }
}

void DevServer::installRoutes() {
    server_->set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
        std::optional<Fault> fault = admit(request);
        if (!fault) return httplib::Server::HandlerResponse::Unhandled;
        if (fault->kind == Fault::Kind::Truncate) {
            response.set_header(kTruncateMark, "1");
            return httplib::Server::HandlerResponse::Unhandled;
        }
        serveFault(*fault, response);
        return httplib::Server::HandlerResponse::Handled;
    });
    server_->set_post_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
        recordBody(request);
        if (!response.has_header(kTruncateMark)) return;
        // Declare the whole length but send only half, then close.
        std::string body = std::move(response.body);
        std::string type = response.get_header_value("Content-Type");
        response.headers.erase(kTruncateMark);
        response.body.clear();
        size_t length = body.size();
        auto shared = std::make_shared<std::string>(std::move(body));
        response.set_content_provider(length, type.empty() ? "application/octet-stream" : type,
                                      [shared](size_t offset, size_t, httplib::DataSink& sink) {
                                          size_t half = shared->size() / 2;
                                          if (offset < half) sink.write(shared->data() + offset, half - offset);
                                          return false;
                                      });
    });
    brindle_->install(*server_);
    github_->install(*server_);
    dropbox_->install(*server_);
    people_->install(*server_);
}

void DevServer::serveFault(const Fault& fault, httplib::Response& response) {
    for (const auto& [name, value] : fault.headers) response.set_header(name, value);
    if (fault.kind == Fault::Kind::Drop) {
        response.status = 200;
        response.set_content_provider(1024, "application/octet-stream",
                                      [](size_t, size_t, httplib::DataSink&) { return false; });
        return;
    }
    response.status = fault.status;
    response.set_content(fault.body, Text::startsWith(fault.body, "{") ? "application/json" : "text/plain");
}

std::optional<Fault> DevServer::admit(const httplib::Request& request) {
    Recorded record;
    record.method = request.method;
    record.path = request.path;
    for (const auto& [name, value] : request.params) record.query[name] = value;
    for (const auto& [name, value] : request.headers) record.headers.emplace(name, value);
    record.body = request.body;

    std::lock_guard<std::mutex> guard(mutex_);
    unread_[&request] = requests_.size();
    requests_.push_back(std::move(record));
    for (auto it = planned_.begin(); it != planned_.end(); ++it) {
        if (!Text::startsWith(request.path, it->prefix)) continue;
        Fault fault = it->fault;
        if (--it->remaining <= 0) planned_.erase(it);
        return fault;
    }
    for (auto& periodic : periodic_) {
        if (!Text::startsWith(request.path, periodic.prefix) || periodic.faults.empty()) continue;
        if (++periodic.seen % periodic.period != 0) continue;
        Fault fault = periodic.faults[periodic.next % periodic.faults.size()];
        ++periodic.next;
        return fault;
    }
    return std::nullopt;
}

void DevServer::recordBody(const httplib::Request& request) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto found = unread_.find(&request);
    if (found == unread_.end()) return;
    if (found->second < requests_.size() && requests_[found->second].body.empty())
        requests_[found->second].body = request.body;
    unread_.erase(found);
}

void DevServer::start() {
    if (options_.port == 0) {
        port_ = server_->bind_to_any_port(options_.host);
    } else {
        port_ = server_->bind_to_port(options_.host, options_.port) ? options_.port : -1;
    }
    if (port_ <= 0) throw Error("The stand-in server could not listen on " + options_.host + ":" + std::to_string(options_.port));
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // stop() is ignored until the server loop runs, so a quick stop would hang.
    while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void DevServer::stop() {
    server_->stop();
    if (thread_.joinable()) thread_.join();
}

std::string DevServer::url() const { return "http://" + options_.host + ":" + std::to_string(port_); }

std::vector<Recorded> DevServer::requests() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return requests_;
}

std::vector<Recorded> DevServer::requestsTo(const std::string& path) const {
    std::vector<Recorded> matching;
    for (auto& request : requests())
        if (request.path == path) matching.push_back(request);
    return matching;
}

void DevServer::clearRequests() {
    std::lock_guard<std::mutex> guard(mutex_);
    requests_.clear();
    unread_.clear();
}

void DevServer::injectFault(const std::string& pathPrefix, Fault fault, int count) {
    std::lock_guard<std::mutex> guard(mutex_);
    planned_.push_back({pathPrefix, std::move(fault), count});
}

void DevServer::injectEvery(const std::string& pathPrefix, int period, std::vector<Fault> faults) {
    std::lock_guard<std::mutex> guard(mutex_);
    periodic_.push_back({pathPrefix, period < 1 ? 1 : period, std::move(faults), 0, 0});
}

void DevServer::clearFaults() {
    std::lock_guard<std::mutex> guard(mutex_);
    planned_.clear();
    periodic_.clear();
}

}  // namespace brindle::devserver
