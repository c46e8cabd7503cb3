#include "dropbox/DropboxAPI.h"

#include "common/Files.h"
#include "common/IsoDate.h"
#include "common/Log.h"
#include "common/Text.h"
#include "service/HTTP.h"
#include "threeway/DropboxFailure.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace brindle {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

const char* kUnreadable = "Dropbox sent an answer Brindle couldn't read.";
const char* kRefused = "Dropbox didn't accept the access Brindle was given.";
const char* kFull = "Your Dropbox is full, so Brindle can't add more files to your Larder.";
constexpr double kTimeout = 120;
constexpr size_t kMaxErrorBody = size_t{64} * 1024;

std::string compact(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

// The seconds a "Retry-After" value asks for, when it is a number.
std::optional<double> retryAfter(const std::string& value) {
    std::string text = Text::trim(value);
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    double seconds = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(seconds) || seconds < 0) return std::nullopt;
    return seconds;
}

std::string errorSummary(const std::string& body) {
    json answer = json::parse(body, nullptr, false);
    if (!answer.is_object()) return "";
    auto summary = answer.find("error_summary");
    return summary != answer.end() && summary->is_string() ? summary->get<std::string>() : "";
}

std::string readHead(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string text(kMaxErrorBody, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

std::string stringOf(const json& object, const char* name) {
    auto found = object.find(name);
    return found != object.end() && found->is_string() ? found->get<std::string>() : "";
}

int64_t sizeOf(const json& object) {
    auto found = object.find("size");
    return found != object.end() && found->is_number() ? found->get<int64_t>() : 0;
}

json parseObject(const std::string& body) {
    json answer = json::parse(body, nullptr, false);
    if (!answer.is_object()) throw DropboxFailure::message(kUnreadable);
    return answer;
}

// A path Dropbox reported that would leave the folder once joined to it
// (a ".." step, an empty or "." step, a NUL byte) is never handed on.
bool safeRelative(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    for (const std::string& part : Text::split(path, '/'))
        if (part.empty() || part == "." || part == "..") return false;
    return true;
}

std::optional<RemoteEntry> entryOf(const json& item) {
    if (!item.is_object()) return std::nullopt;
    std::string tag = stringOf(item, ".tag");
    if (tag != "file" && tag != "deleted") return std::nullopt;
    std::string path = stringOf(item, "path_display");
    if (tag == "deleted" && !item.contains("path_display")) path = stringOf(item, "path_lower");
    path.erase(0, path.find_first_not_of('/') == std::string::npos ? path.size() : path.find_first_not_of('/'));
    if (!safeRelative(path)) {
        Log::write("Dropbox listed a path Brindle won't use: " + Text::lossyUTF8(path));
        return std::nullopt;
    }
    RemoteEntry entry{tag == "deleted", pathKey(path), std::nullopt};
    if (tag == "file") {
        std::optional<double> modified = IsoDate::parseSeconds(stringOf(item, "server_modified"));
        entry.file = RemoteFile{path, stringOf(item, "content_hash"), stringOf(item, "rev"), sizeOf(item),
                                modified.value_or(0)};
    }
    return entry;
}

// A download whose answer names its size must have delivered that many bytes;
// a server that closes early without saying so is caught here.
bool arrivedWhole(const HTTP::Response& response, const fs::path& file) {
    json result = json::parse(response.header("dropbox-api-result"), nullptr, false);
    if (!result.is_object() || !result.contains("size") || !result["size"].is_number()) return true;
    std::error_code error;
    auto size = fs::file_size(file, error);
    return !error && static_cast<int64_t>(size) == sizeOf(result);
}

DropboxFailure failureOf(int status, const std::string& summary) {
    if (Text::startsWith(summary, "reset/")) return DropboxFailure::reset();
    if (summary.find("insufficient_space") != std::string::npos) return DropboxFailure::message(kFull);
    return DropboxFailure::message(summary.empty() ? "HTTP " + std::to_string(status) : summary);
}

void moveInto(Files::TemporaryFile& landing, const fs::path& destination) {
    std::error_code error;
    fs::remove(destination, error);
    fs::rename(landing.path(), destination, error);
    if (error) throw DropboxFailure::message("Couldn't save " + destination.filename().string() + ": " + error.message());
    landing.keep();
}

void appendEntries(const json& answer, std::vector<RemoteEntry>& entries) {
    auto list = answer.find("entries");
    if (list == answer.end() || !list->is_array()) return;
    for (const json& item : *list)
        if (std::optional<RemoteEntry> entry = entryOf(item)) entries.push_back(std::move(*entry));
}

}  // namespace

DropboxAPI::DropboxAPI(std::shared_ptr<DropboxCredentials> credentials, Pause pause)
    : credentials_(std::move(credentials)), pause_(pause ? std::move(pause) : Pause(blockingPause)) {}

void DropboxAPI::blockingPause(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

std::string DropboxAPI::headerArgument(const json& argument) {
    std::string text = compact(argument);
    std::string ascii;
    ascii.reserve(text.size());
    char escape[16];
    for (size_t i = 0; i < text.size();) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ascii += text[i++];
            continue;
        }
        // The dump is valid UTF-8 (invalid bytes were replaced), so the
        // sequence length follows from the lead byte.
        int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        uint32_t point = lead & (0xFF >> (length + 1));
        for (int k = 1; k < length && i + k < text.size(); ++k) point = (point << 6) | (text[i + k] & 0x3F);
        i += length;
        if (point >= 0x10000) {
            point -= 0x10000;
            std::snprintf(escape, sizeof escape, "\\u%04x", 0xD800 + (point >> 10));
            ascii += escape;
            point = 0xDC00 + (point & 0x3FF);
        }
        std::snprintf(escape, sizeof escape, "\\u%04x", point);
        ascii += escape;
    }
    return ascii;
}

HTTP::Request DropboxAPI::request(Kind kind, const std::string& path, const std::map<std::string, std::string>& headers,
                                  const json* body, const std::optional<fs::path>& uploadFile) {
    DropboxCredential credential = credentials_->get();
    HTTP::Request request;
    request.method = "POST";
    request.url = (kind == Kind::content ? credential.contentBase : credential.apiBase) + "/2/" + path;
    request.timeout = kTimeout;
    request.headers.emplace_back("Authorization", "Bearer " + credential.token);
    for (const auto& header : headers) request.headers.push_back(header);
    if (body) {
        request.headers.emplace_back("Content-Type", "application/json");
        request.body = compact(*body);
    }
    request.bodyFile = uploadFile;
    return request;
}

std::string DropboxAPI::send(Kind kind, const std::string& path, const std::map<std::string, std::string>& headers,
                             const json* body, const std::optional<fs::path>& uploadFile,
                             const std::optional<fs::path>& downloadTo) {
    if (uploadFile && !std::ifstream(*uploadFile, std::ios::binary))
        throw DropboxFailure::message("Couldn't read " + uploadFile->filename().string() + " to upload it.");
    std::string reason;
    bool refreshed = false;
    bool lastWasRefusal = false;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        HTTP::Request request = this->request(kind, path, headers, body, uploadFile);
        // A download lands beside its destination and is moved there only
        // when it arrived whole, so a cut-off transfer never replaces a file.
        std::optional<Files::TemporaryFile> landing;
        if (downloadTo) {
            landing.emplace(downloadTo->parent_path() / Files::temporaryName());
            request.downloadTo = landing->path();
        }
        lastWasRefusal = false;
        double pause = std::pow(2.0, attempt);
        HTTP::Response response;
        try {
            response = HTTP::send(request);
        } catch (const HTTP::TransportError& failure) {
            reason = failure.what();
            pause_(std::min(pause, kMaxPause));
            continue;
        }
        if (response.status >= 200 && response.status < 300) {
            if (!downloadTo) return std::move(response.body);
            if (arrivedWhole(response, landing->path())) {
                moveInto(*landing, *downloadTo);
                return "";
            }
            reason = "the download was cut short";
            pause_(std::min(pause, kMaxPause));
        } else if (response.status == 401) {
            if (refreshed) throw DropboxFailure::message(kRefused);
            refreshed = lastWasRefusal = true;
            credentials_->dropCached();
        } else if (response.status == 429 || response.status >= 500) {
            reason = "HTTP " + std::to_string(response.status);
            pause_(std::min(retryAfter(response.header("retry-after")).value_or(pause), kMaxPause));
        } else {
            throw failureOf(response.status, errorSummary(downloadTo ? readHead(landing->path()) : response.body));
        }
    }
    // A refusal on the last attempt leaves nothing to blame but the access.
    if (lastWasRefusal) throw DropboxFailure::message(kRefused);
    throw DropboxFailure::message("Couldn't reach Dropbox (" + reason + ").");
}

RemoteListing DropboxAPI::listFrom(std::string endpoint, json argument) {
    RemoteListing listing;
    for (;;) {
        json answer = parseObject(send(Kind::api, endpoint, {}, &argument, std::nullopt, std::nullopt));
        appendEntries(answer, listing.entries);
        listing.cursor = stringOf(answer, "cursor");
        auto more = answer.find("has_more");
        bool hasMore = more != answer.end() && more->is_boolean() && more->get<bool>();
        auto cursor = answer.find("cursor");
        if (!hasMore || cursor == answer.end() || !cursor->is_string()) return listing;
        endpoint = "files/list_folder/continue";
        argument = {{"cursor", cursor->get<std::string>()}};
    }
}

std::string DropboxAPI::account() { return credentials_->get().account; }

RemoteListing DropboxAPI::listAll() {
    return listFrom("files/list_folder", {{"path", ""}, {"recursive", true}, {"limit", 2000}});
}

RemoteListing DropboxAPI::listChanges(const std::string& cursor) {
    return listFrom("files/list_folder/continue", {{"cursor", cursor}});
}

void DropboxAPI::download(const std::string& path, const fs::path& to) {
    send(Kind::content, "files/download", {{"Dropbox-API-Arg", headerArgument({{"path", "/" + path}})}}, nullptr,
         std::nullopt, to);
}

RemoteFile DropboxAPI::upload(const std::string& path, const fs::path& from, const std::optional<std::string>& updateRev) {
    json mode = updateRev ? json{{".tag", "update"}, {"update", *updateRev}} : json("add");
    json argument = {{"path", "/" + path}, {"mode", mode}, {"autorename", false}, {"mute", true}};
    json answer = parseObject(send(Kind::content, "files/upload",
                                   {{"Dropbox-API-Arg", headerArgument(argument)},
                                    {"Content-Type", "application/octet-stream"}},
                                   nullptr, from, std::nullopt));
    std::string stored = stringOf(answer, "path_display");
    size_t first = stored.find_first_not_of('/');
    stored = first == std::string::npos ? "" : stored.substr(first, stored.find_last_not_of('/') - first + 1);
    return RemoteFile{stored.empty() ? path : stored, stringOf(answer, "content_hash"), stringOf(answer, "rev"),
                      sizeOf(answer), IsoDate::nowSeconds()};
}

void DropboxAPI::remove(const std::string& path, const std::optional<std::string>& rev) {
    json argument = {{"path", "/" + path}};
    if (rev) argument["parent_rev"] = *rev;
    send(Kind::api, "files/delete_v2", {}, &argument, std::nullopt, std::nullopt);
}

}  // namespace brindle
