#include "common/Files.h"
#include "common/Text.h"
#include "morsels/Morsels.h"
#include "service/HTTP.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <mutex>

namespace brindle::Morsels {

namespace {

std::mutex notifierMutex;  // guards notifier
Notifier notifier;

// A file name as it may stand inside the quoted filename parameter: a double
// quote would end it early and a line break would end the header.
std::string quotableName(std::string name) {
    std::replace_if(name.begin(), name.end(), [](char c) { return c == '"' || c == '\r' || c == '\n'; }, '_');
    return name;
}

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

}  // namespace

Multipart multipart(const std::string& name, const std::string& data) {
    Multipart result;
    result.boundary = "Brindle-" + upper(Files::newUUID());
    result.body = "--" + result.boundary + "\r\n";
    result.body += "Content-Disposition: form-data; name=\"file\"; filename=\"" + quotableName(name) + "\"\r\n";
    result.body += "Content-Type: application/octet-stream\r\n\r\n";
    result.body += data;
    result.body += "\r\n--" + result.boundary + "--\r\n";
    return result;
}

std::string send(const Brindle::Account& account, const Clip& clip) {
    HTTP::Request request;
    request.method = "POST";
    request.url = account.server + "/api/v1/morsels";
    request.timeout = Brindle::kRequestTimeout;
    request.headers = {{"Authorization", "Bearer " + account.deviceToken}, {"Accept", "application/json"}};
    if (clip.kind == Clip::Kind::text) {
        request.body = nlohmann::json{{"text", clip.text}}.dump();
        request.headers.emplace_back("Content-Type", "application/json");
    } else {
        Multipart form = multipart(clip.name, clip.data);
        request.body = std::move(form.body);
        request.headers.emplace_back("Content-Type", "multipart/form-data; boundary=" + form.boundary);
    }
    HTTP::Response response = HTTP::send(request);
    if (response.status == 200) return "Added to your Morsels.";
    if (response.status == 401) throw Problem("You're signed out of Brindle. Sign in from the Brindle menu.");
    nlohmann::json answer = nlohmann::json::parse(response.body, nullptr, false);
    if (answer.is_object() && answer.contains("message") && answer["message"].is_string())
        throw Problem(answer["message"].get<std::string>());
    throw Problem("Morsels couldn't be reached right now (HTTP " + std::to_string(response.status) + ").");
}

Outcome sendClipboard(Pasteboard& pasteboard, const std::optional<Brindle::Account>& account) {
    if (!account) return {kSignInFirst, false};
    try {
        return {send(*account, clip(pasteboard)), true};
    } catch (const std::exception& failure) {
        return {failure.what(), false};
    }
}

void setNotifier(Notifier installed) {
    std::lock_guard lock(notifierMutex);
    notifier = std::move(installed);
}

void notify(const std::string& message, bool ok) {
    Notifier current;
    {
        std::lock_guard lock(notifierMutex);
        current = notifier;
    }
    if (current) {
        current(message, ok);
        return;
    }
    std::cout << Text::printable(message) << std::endl;
}

}  // namespace brindle::Morsels
