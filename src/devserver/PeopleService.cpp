#include "devserver/PeopleService.h"

#include <httplib.h>

#include <algorithm>

#include "common/Text.h"

namespace brindle::devserver {

using nlohmann::json;

namespace {

std::string googleError(int status, const std::string& message) {
    return json{{"error", {{"code", status}, {"message", message}}}}.dump();
}

std::string bearerToken(const httplib::Request& request) {
    std::string header = request.get_header_value("Authorization");
    return Text::startsWith(header, "Bearer ") ? header.substr(7) : "";
}

}  // namespace

void PeopleService::install(httplib::Server& http) {
    http.Get("/v1/people/me/connections", [this](const httplib::Request& request, httplib::Response& response) {
        if (!request.has_param("personFields")) {
            response.status = 400;
            response.set_content(googleError(400, "personFields mask is required."), "application/json");
            return;
        }
        int requested = 100;
        if (request.has_param("pageSize")) {
            try {
                requested = std::stoi(request.get_param_value("pageSize"));
            } catch (const std::exception&) {
                requested = 0;
            }
        }
        Answer answer = connectionsPage(bearerToken(request), request.get_param_value("pageToken"), requested);
        response.status = answer.status;
        response.set_content(answer.body, "application/json");
    });
}

PeopleService::Answer PeopleService::connectionsPage(const std::string& token, const std::string& pageToken,
                                                     int requested) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (auto status = statuses_.find(token); status != statuses_.end())
        return {status->second, googleError(status->second, "The caller does not have permission")};
    auto found = people_.find(token);
    if (token.empty() || found == people_.end() || expiring_.erase(token))
        return {401, googleError(401, "Request had invalid authentication credentials.")};
    if (requested < 1 || requested > 1000) return {400, googleError(400, "Invalid pageSize.")};

    size_t offset = 0;
    if (!pageToken.empty()) {
        try {
            if (!Text::startsWith(pageToken, "page-")) throw std::invalid_argument(pageToken);
            offset = std::stoul(pageToken.substr(5));
        } catch (const std::exception&) {
            return {400, googleError(400, "Invalid pageToken.")};
        }
    }
    const auto& everyone = found->second;
    size_t size = static_cast<size_t>(std::min(requested, pageSize_));
    size_t end = std::min(everyone.size(), offset + size);
    json page = json::object();
    if (offset < end) page["connections"] = json(std::vector<json>(everyone.begin() + offset, everyone.begin() + end));
    if (end < everyone.size()) page["nextPageToken"] = "page-" + std::to_string(end);
    page["totalPeople"] = everyone.size();
    return {200, page.dump()};
}

void PeopleService::setConnections(const std::string& token, std::vector<json> people) {
    std::lock_guard<std::mutex> guard(mutex_);
    people_[token] = std::move(people);
}

std::vector<json> PeopleService::connections(const std::string& token) const {
    std::lock_guard<std::mutex> guard(mutex_);
    auto found = people_.find(token);
    return found == people_.end() ? std::vector<json>{} : found->second;
}

void PeopleService::setPageSize(int size) {
    std::lock_guard<std::mutex> guard(mutex_);
    pageSize_ = std::max(1, size);
}

void PeopleService::expireOnce(const std::string& token) {
    std::lock_guard<std::mutex> guard(mutex_);
    expiring_.insert(token);
}

void PeopleService::answerWith(const std::string& token, int status) {
    std::lock_guard<std::mutex> guard(mutex_);
    statuses_[token] = status;
}

void PeopleService::clearStatus(const std::string& token) {
    std::lock_guard<std::mutex> guard(mutex_);
    statuses_.erase(token);
}

json PeopleService::person(const std::string& resourceName, const std::string& displayName,
                           const std::vector<std::string>& emails) {
    json addresses = json::array();
    for (const auto& email : emails) addresses.push_back({{"value", email}, {"type", "home"}});
    return json{{"resourceName", resourceName},
                {"etag", "%Eg" + resourceName.substr(resourceName.find('/') + 1)},
                {"names", json::array({{{"displayName", displayName},
                                        {"givenName", displayName.substr(0, displayName.find(' '))},
                                        {"metadata", {{"primary", true}}}}})},
                {"emailAddresses", addresses}};
}

}  // namespace brindle::devserver
