#include "devserver/DropboxService.h"

#include "common/DropboxHash.h"
#include "common/Error.h"
#include "common/Files.h"
#include "common/IsoDate.h"
#include "common/Text.h"
#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "threeway/RemoteStore.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sys/stat.h>

namespace brindle::devserver {

namespace fs = std::filesystem;
using nlohmann::json;

struct DropboxService::Answer {
    int status = 200;
    std::string body;
    std::string type = "application/json";
    std::map<std::string, std::string> headers;

    static Answer ofJSON(const json& value, int status = 200) {
        return {status, value.dump(-1, ' ', true), "application/json", {}};
    }
    // A route error as Dropbox words it: error_summary plus a tagged error.
    static Answer error(int status, const std::string& summary) {
        std::string tag = summary.substr(0, summary.find('/'));
        return ofJSON({{"error_summary", summary}, {"error", {{".tag", tag}}}}, status);
    }
    static Answer badInput(const std::string& text) { return {400, text, "text/plain", {}}; }
};

namespace {

const char* kBadPath = "path/malformed_path/";

// A Dropbox path ("/a/b.txt", or "" for the root) as a relative path, or
// nothing when it is not a clean path inside the folder.
std::optional<std::string> relativePath(const std::string& path, bool rootAllowed) {
    if (path.empty() || path == "/") return rootAllowed ? std::optional<std::string>("") : std::nullopt;
    if (path[0] != '/' || path.back() == '/' || path.find('\0') != std::string::npos) return std::nullopt;
    std::string relative = path.substr(1);
    for (const std::string& part : Text::split(relative, '/'))
        if (part.empty() || part == "." || part == "..") return std::nullopt;
    return relative;
}

// The stand-in keeps no promise over crashes, so files are written without
// the fsync of a real atomic write, which would make large tests slow.
void writePlain(const fs::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out.flush()) throw Error("The stand-in could not write " + path.string());
}

// Small files are hashed from memory: cheaper than the 4 MiB block buffer
// of the streaming hash when thousands of them are listed.
std::string hashOf(const fs::path& file, int64_t size) {
    if (size >= static_cast<int64_t>(DropboxHash::kBlockSize)) return DropboxHash::of(file);
    std::optional<std::string> content = Files::read(file);
    return content ? DropboxHash::ofBytes(*content) : DropboxHash::of(file);
}

int64_t mtimeNsOf(const struct stat& info) {
    return static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

std::string hexOf(const std::string& bytes) {
    static const char* kDigits = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

std::optional<std::string> unhex(const std::string& text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::string bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        int value = 0;
        if (std::sscanf(text.c_str() + i, "%2x", &value) != 1) return std::nullopt;
        bytes += static_cast<char>(value);
    }
    return bytes;
}

// The JSON argument of a call: the body for API calls, the Dropbox-API-Arg
// header (or "arg" query) for content calls.
std::optional<json> argument(const httplib::Request& request, bool content) {
    std::string text = content ? request.get_header_value("Dropbox-API-Arg") : request.body;
    if (content && text.empty()) text = request.get_param_value("arg");
    json value = json::parse(text, nullptr, false);
    if (value.is_discarded() || !value.is_object()) return std::nullopt;
    return value;
}

std::string stringField(const json& object, const char* name) {
    auto found = object.find(name);
    return found != object.end() && found->is_string() ? found->get<std::string>() : "";
}

std::string lastComponent(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool under(const std::string& key, const std::string& prefix, bool recursive) {
    if (prefix.empty()) return recursive || key.find('/') == std::string::npos;
    if (!Text::startsWith(key, prefix + "/")) return false;
    return recursive || key.find('/', prefix.size() + 1) == std::string::npos;
}

// One sync report as lines: the store statuses, then each event.
std::string describeReport(const json& report) {
    std::string text;
    if (report.contains("status") && report["status"].is_array() && !report["status"].empty()) {
        text += "report:";
        for (const json& status : report["status"]) {
            text += "  " + stringField(status, "store") + " " + stringField(status, "state");
            if (!stringField(status, "detail").empty()) text += " (" + stringField(status, "detail") + ")";
            if (status.contains("files") && status["files"].is_number())
                text += " [" + status["files"].dump() + " files, " + status.value("bytes", json(0)).dump() + " bytes]";
            text += ";";
        }
        text.back() = '\n';
    }
    if (report.contains("events") && report["events"].is_array())
        for (const json& event : report["events"])
            text += "   " + stringField(event, "store") + ": " + stringField(event, "kind") + " " +
                    stringField(event, "path") + " (" + event.value("bytes", json(0)).dump() + " bytes)\n";
    return text;
}

}  // namespace

DropboxService::DropboxService(DevServer& server) : server_(server) {
    root_ = server_.dataFolder() / "dropbox";
    staging_ = server_.dataFolder() / "dropbox-staging";
    fs::create_directories(root_);
    fs::create_directories(staging_);
    epoch_ = Files::newUUID().substr(0, 8);
}

DropboxService::~DropboxService() = default;

void DropboxService::install(httplib::Server& http) {
    auto route = [this, &http](const char* path, bool needsToken,
                               Answer (DropboxService::*handler)(const httplib::Request&)) {
        http.Post(path, [this, needsToken, handler](const httplib::Request& request, httplib::Response& response) {
            serve(request, response, needsToken, handler);
        });
    };
    route("/2/files/list_folder", true, &DropboxService::listFolder);
    route("/2/files/list_folder/continue", true, &DropboxService::listContinue);
    route("/2/files/upload", true, &DropboxService::upload);
    route("/2/files/download", true, &DropboxService::download);
    route("/2/files/delete_v2", true, &DropboxService::remove);
    route("/api/v1/larder/token", false, &DropboxService::token);
    installDemoHooks(http);
}

// A route for the demo, which runs the stand-in as a separate program and
// cannot call its accessors: what the program reported since the last look,
// as plain lines.
void DropboxService::installDemoHooks(httplib::Server& http) {
    http.Get("/devserver/reports", [this](const httplib::Request&, httplib::Response& response) {
        std::vector<json> reports = server_.brindle().reports();
        std::string text;
        std::lock_guard<std::mutex> guard(mutex_);
        for (size_t i = std::min(reportsShown_, reports.size()); i < reports.size(); ++i) text += describeReport(reports[i]);
        reportsShown_ = reports.size();
        response.set_content(text, "text/plain; charset=utf-8");
    });
}

void DropboxService::serve(const httplib::Request& request, httplib::Response& response, bool needsToken,
                           Answer (DropboxService::*handler)(const httplib::Request&)) {
    Answer answer;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (needsToken && !tokenValid(request.get_header_value("Authorization"))) {
            answer = Answer::error(401, "expired_access_token/");
        } else {
            try {
                answer = (this->*handler)(request);
            } catch (const std::exception& failure) {
                answer = Answer::error(500, std::string("internal_error/") + failure.what());
            }
        }
    }
    response.status = answer.status;
    for (const auto& [name, value] : answer.headers) response.set_header(name, value);
    response.set_content(answer.body, answer.type);
}

bool DropboxService::tokenValid(const std::string& authorization) const {
    if (!Text::startsWith(authorization, "Bearer ")) return false;
    auto found = tokens_.find(authorization.substr(7));
    return found != tokens_.end() && found->second > IsoDate::nowSeconds();
}

// Brings items_ in line with the folder on disk: new or changed files get a
// new revision, vanished ones a tombstone. Unchanged files are not rehashed.
void DropboxService::rescan() {
    std::map<std::string, bool> seen;
    std::error_code error;
    for (fs::recursive_directory_iterator it(root_, fs::directory_options::skip_permission_denied, error), end;
         !error && it != end; it.increment(error)) {
        struct stat info {};
        if (::lstat(it->path().c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        std::string display = it->path().lexically_relative(root_).generic_string();
        seen[pathKey(display)] = true;
        refreshFile(display, info);
    }
    std::vector<std::string> gone;
    for (const auto& [key, item] : items_)
        if (!seen.count(key)) gone.push_back(key);
    for (const std::string& key : gone) forget(key);
}

// The same for one file, for calls that touch only that file.
void DropboxService::refreshOne(const std::string& display) {
    struct stat info {};
    if (::lstat((root_ / display).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) forget(pathKey(display));
    else refreshFile(display, info);
}

void DropboxService::refreshFile(const std::string& display, const struct stat& info) {
    std::string key = pathKey(display);
    auto found = items_.find(key);
    if (found != items_.end() && found->second.size == info.st_size && found->second.mtimeNs == mtimeNsOf(info) &&
        found->second.display == display)
        return;
    std::string hash = hashOf(root_ / display, info.st_size);
    if (found != items_.end() && found->second.hash == hash) {
        found->second.size = info.st_size;
        found->second.mtimeNs = mtimeNsOf(info);
        found->second.display = display;
        return;
    }
    record(key, root_ / display, display, hash);
}

// A new revision of the file now at `file`.
void DropboxService::record(const std::string& key, const fs::path& file, const std::string& display,
                            const std::string& hash) {
    struct stat info {};
    ::lstat(file.c_str(), &info);
    char rev[32];
    std::snprintf(rev, sizeof rev, "%013llx%04x", static_cast<unsigned long long>(++revs_), 0x5e7u);
    Item& item = items_[key];
    item = {display, rev, hash, static_cast<int64_t>(info.st_size), mtimeNsOf(info), IsoDate::nowSeconds(), ++seq_};
    tombstones_.erase(key);
}

void DropboxService::forget(const std::string& key) {
    auto found = items_.find(key);
    if (found == items_.end()) return;
    tombstones_[key] = {found->second.display, ++seq_};
    items_.erase(found);
}

// relative with each folder spelled as it already is on disk, since the store
// ignores letter case and must not grow a second "Docs" beside "docs".
std::string DropboxService::resolve(const std::string& relative) const {
    std::vector<std::string> parts = Text::split(relative, '/');
    fs::path folder = root_;
    std::string resolved;
    for (size_t i = 0; i < parts.size(); ++i) {
        std::string name = parts[i];
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(folder, error)) {
            std::string existing = entry.path().filename().string();
            if (existing != name && pathKey(existing) == pathKey(name)) {
                name = existing;
                break;
            }
        }
        folder /= name;
        resolved += (i ? "/" : "") + name;
    }
    return resolved;
}

json DropboxService::metadata(const Item& item) const {
    std::string id = "id:";
    id.append(hexOf(pathKey(item.display)), 0, 22);
    return {{".tag", "file"},
            {"name", lastComponent(item.display)},
            {"id", id},
            {"path_lower", std::string("/").append(pathKey(item.display))},
            {"path_display", std::string("/").append(item.display)},
            {"rev", item.rev},
            {"size", item.size},
            {"content_hash", item.hash},
            {"server_modified", IsoDate::formatSeconds(item.serverModified)},
            {"client_modified", IsoDate::formatSeconds(item.serverModified)},
            {"is_downloadable", true}};
}

std::string DropboxService::cursorFor(uint64_t seq, const std::string& prefix, bool recursive) const {
    json state = {{"e", epoch_}, {"s", seq}, {"p", prefix}, {"r", recursive}};
    return "AAH" + hexOf(state.dump());
}

DropboxService::Answer DropboxService::page(std::vector<json> entries, uint64_t seen, const std::string& prefix,
                                            bool recursive, int limit) {
    // entries come as (seq, entry) pairs sorted by seq; the cursor names the
    // last seq handed out, so the next page starts after it.
    json answer = {{"entries", json::array()}, {"has_more", false}};
    uint64_t last = seen;
    int count = 0;
    for (json& entry : entries) {
        uint64_t seq = entry["seq"].get<uint64_t>();
        if (count >= limit && seq != 0) {
            answer["has_more"] = true;
            break;
        }
        entry.erase("seq");
        answer["entries"].push_back(std::move(entry));
        if (seq != 0) {
            last = seq;
            ++count;
        }
    }
    if (!answer["has_more"].get<bool>()) last = std::max(last, seq_);
    answer["cursor"] = cursorFor(last, prefix, recursive);
    return Answer::ofJSON(answer);
}

DropboxService::Answer DropboxService::listFolder(const httplib::Request& request) {
    std::optional<json> arg = argument(request, false);
    if (!arg) return Answer::badInput("Error in call to API function \"files/list_folder\": could not decode input as JSON");
    std::optional<std::string> relative = relativePath(stringField(*arg, "path"), true);
    if (!relative) return Answer::error(409, kBadPath);
    std::string prefix = pathKey(*relative);
    if (!prefix.empty() && !fs::is_directory(root_ / resolve(*relative))) return Answer::error(409, "path/not_found/");
    bool recursive = arg->value("recursive", false);
    rescan();
    int limit = std::clamp(arg->value("limit", 2000), 1, pageLimit_);

    std::vector<json> entries;
    // Folders come first, as Dropbox lists a folder before what it holds; they
    // carry seq 0 and do not count against the page.
    std::error_code error;
    for (fs::recursive_directory_iterator it(root_, error), end; !error && it != end; it.increment(error)) {
        if (!it->is_directory()) continue;
        std::string display = it->path().lexically_relative(root_).generic_string();
        if (!under(pathKey(display), prefix, recursive)) continue;
        entries.push_back({{".tag", "folder"}, {"name", lastComponent(display)}, {"path_lower", "/" + pathKey(display)},
                           {"path_display", "/" + display}, {"seq", 0}});
    }
    std::vector<const Item*> files;
    for (const auto& [key, item] : items_)
        if (under(key, prefix, recursive)) files.push_back(&item);
    std::sort(files.begin(), files.end(), [](const Item* a, const Item* b) { return a->seq < b->seq; });
    for (const Item* item : files) {
        json entry = metadata(*item);
        entry["seq"] = item->seq;
        entries.push_back(std::move(entry));
    }
    return page(std::move(entries), 0, prefix, recursive, limit);
}

DropboxService::Answer DropboxService::listContinue(const httplib::Request& request) {
    std::optional<json> arg = argument(request, false);
    if (!arg) return Answer::badInput("Error in call to API function \"files/list_folder/continue\": could not decode input as JSON");
    std::optional<std::string> decoded = unhex(stringField(*arg, "cursor").substr(std::min<size_t>(3, stringField(*arg, "cursor").size())));
    json state = decoded ? json::parse(*decoded, nullptr, false) : json();
    if (!state.is_object() || state.value("e", "") != epoch_ || !state.contains("s"))
        return Answer::error(409, "reset/");
    uint64_t seen = state["s"].get<uint64_t>();
    rescan();
    std::string prefix = state.value("p", "");
    bool recursive = state.value("r", true);

    std::vector<std::pair<uint64_t, json>> changes;
    for (const auto& [key, item] : items_)
        if (item.seq > seen && under(key, prefix, recursive)) changes.push_back({item.seq, metadata(item)});
    for (const auto& [key, gone] : tombstones_)
        if (gone.seq > seen && under(key, prefix, recursive))
            changes.push_back({gone.seq, {{".tag", "deleted"}, {"name", lastComponent(gone.display)},
                                          {"path_lower", "/" + key}, {"path_display", "/" + gone.display}}});
    std::sort(changes.begin(), changes.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<json> entries;
    for (auto& [seq, entry] : changes) {
        entry["seq"] = seq;
        entries.push_back(std::move(entry));
    }
    return page(std::move(entries), seen, prefix, recursive, pageLimit_);
}

int64_t DropboxService::usedBytes() const {
    int64_t used = 0;
    for (const auto& [key, item] : items_) used += item.size;
    return used;
}

DropboxService::Answer DropboxService::upload(const httplib::Request& request) {
    std::optional<json> arg = argument(request, true);
    if (!arg) return Answer::badInput("Error in call to API function \"files/upload\": could not decode Dropbox-API-Arg as JSON");
    std::optional<std::string> relative = relativePath(stringField(*arg, "path"), false);
    if (!relative) return Answer::error(409, kBadPath);
    std::string display = resolve(*relative);
    std::string key = pathKey(display);
    refreshOne(display);
    const json mode = arg->value("mode", json("add"));
    std::string tag = mode.is_string() ? mode.get<std::string>() : stringField(mode, ".tag");
    std::string hash = DropboxHash::ofBytes(request.body);

    auto existing = items_.find(key);
    if (existing != items_.end()) {
        // The same content is already there: Dropbox keeps the version as it is.
        if (existing->second.hash == hash) return Answer::ofJSON(metadata(existing->second));
        bool allowed = tag == "overwrite" || (tag == "update" && stringField(mode, "update") == existing->second.rev);
        if (!allowed) return Answer::error(409, "path/conflict/file/");
        display = existing->second.display;
    } else if (tag == "update") {
        return Answer::error(409, "path/conflict/file/");
    } else if (tag != "add" && tag != "overwrite") {
        return Answer::badInput("Error in call to API function \"files/upload\": unknown write mode");
    }
    int64_t grows = static_cast<int64_t>(request.body.size()) - (existing != items_.end() ? existing->second.size : 0);
    if (quota_ && usedBytes() + grows > *quota_) return Answer::error(409, "path/insufficient_space/");

    fs::path target = root_ / display;
    std::error_code error;
    if (fs::is_directory(target, error)) return Answer::error(409, "path/conflict/folder/");
    fs::create_directories(target.parent_path(), error);
    if (error) return Answer::error(409, "path/conflict/folder/");
    fs::path staged = staging_ / Files::temporaryName();
    writePlain(staged, request.body);
    fs::rename(staged, target, error);
    if (error) {
        fs::remove(staged, error);
        return Answer::error(409, "path/conflict/folder/");
    }
    record(key, target, display, hash);
    return Answer::ofJSON(metadata(items_[key]));
}

DropboxService::Answer DropboxService::download(const httplib::Request& request) {
    std::optional<json> arg = argument(request, true);
    if (!arg) return Answer::badInput("Error in call to API function \"files/download\": could not decode Dropbox-API-Arg as JSON");
    std::optional<std::string> relative = relativePath(stringField(*arg, "path"), false);
    if (!relative) return Answer::error(409, "path/malformed_path/");
    refreshOne(resolve(*relative));
    auto found = items_.find(pathKey(*relative));
    if (found == items_.end()) return Answer::error(409, "path/not_found/");
    std::optional<std::string> content = Files::read(root_ / found->second.display);
    if (!content) return Answer::error(409, "path/not_found/");
    Answer answer{200, std::move(*content), "application/octet-stream", {}};
    answer.headers["Dropbox-API-Result"] = metadata(found->second).dump(-1, ' ', true);
    return answer;
}

DropboxService::Answer DropboxService::remove(const httplib::Request& request) {
    std::optional<json> arg = argument(request, false);
    if (!arg) return Answer::badInput("Error in call to API function \"files/delete_v2\": could not decode input as JSON");
    std::optional<std::string> relative = relativePath(stringField(*arg, "path"), false);
    if (!relative) return Answer::error(409, "path_lookup/malformed_path/");
    std::string key = pathKey(*relative);
    refreshOne(resolve(*relative));
    auto found = items_.find(key);
    std::error_code error;
    if (found == items_.end()) {
        // A folder goes with everything in it.
        fs::path folder = root_ / resolve(*relative);
        if (!fs::is_directory(folder, error)) return Answer::error(409, "path_lookup/not_found/");
        std::string display = folder.lexically_relative(root_).generic_string();
        fs::remove_all(folder, error);
        rescan();
        return Answer::ofJSON({{"metadata", {{".tag", "folder"}, {"name", lastComponent(display)},
                                             {"path_lower", "/" + pathKey(display)}, {"path_display", "/" + display}}}});
    }
    if (arg->contains("parent_rev") && stringField(*arg, "parent_rev") != found->second.rev)
        return Answer::error(409, "path_write/conflict/file/");
    json gone = metadata(found->second);
    fs::remove(root_ / found->second.display, error);
    if (error) return Answer::error(409, "path_write/disallowed_name/");
    forget(key);
    return Answer::ofJSON({{"metadata", gone}});
}

DropboxService::Answer DropboxService::token(const httplib::Request& request) {
    std::string authorization = request.get_header_value("Authorization");
    if (!Text::startsWith(authorization, "Bearer ") || authorization.size() <= 7 || !server_.brindle().authorizes(request))
        return Answer::ofJSON({{"error", "unauthorized"}}, 401);
    if (tokenFailure_) {
        json body = json::object();
        if (!tokenFailure_->second.empty()) body["error"] = tokenFailure_->second;
        return Answer::ofJSON(body, tokenFailure_->first);
    }
    if (request.get_param_value("provider") != "dropbox") return Answer::ofJSON({{"error", "larder_not_connected"}}, 404);
    std::string token = "sl.standin-" + Files::newUUID();
    json answer = {{"token", token},
                   {"expires_at", IsoDate::formatSeconds(IsoDate::nowSeconds() + tokenLifetime_)},
                   {"api_base", server_.url()},
                   {"content_base", server_.url()},
                   {"account", account_}};
    if (tokenFields_) {
        for (const auto& [name, value] : tokenFields_->items()) {
            if (value.is_null()) answer.erase(name);
            else answer[name] = value;
        }
    }
    std::optional<double> expires = IsoDate::parseSeconds(answer.value("expires_at", ""));
    tokens_[token] = expires ? *expires : IsoDate::nowSeconds() + tokenLifetime_;
    return Answer::ofJSON(answer);
}

fs::path DropboxService::folder() const { return root_; }

void DropboxService::writeFile(const std::string& path, const std::string& content) {
    std::lock_guard<std::mutex> guard(mutex_);
    std::string display = resolve(path);
    fs::path target = root_ / display;
    fs::create_directories(target.parent_path());
    fs::path staged = staging_ / Files::temporaryName();
    writePlain(staged, content);
    fs::rename(staged, target);
    refreshOne(display);
}

std::optional<std::string> DropboxService::readFile(const std::string& path) const {
    std::lock_guard<std::mutex> guard(mutex_);
    return Files::read(root_ / resolve(path));
}

void DropboxService::deleteFile(const std::string& path) {
    std::lock_guard<std::mutex> guard(mutex_);
    std::string display = resolve(path);
    std::error_code ignored;
    fs::remove(root_ / display, ignored);
    refreshOne(display);
}

std::map<std::string, std::string> DropboxService::list() {
    std::lock_guard<std::mutex> guard(mutex_);
    rescan();
    std::map<std::string, std::string> files;
    for (const auto& [key, item] : items_) files[item.display] = item.hash;
    return files;
}

std::string DropboxService::revisionOf(const std::string& path) {
    std::lock_guard<std::mutex> guard(mutex_);
    rescan();
    auto found = items_.find(pathKey(path));
    return found == items_.end() ? "" : found->second.rev;
}

void DropboxService::resetCursors() {
    std::lock_guard<std::mutex> guard(mutex_);
    epoch_ = Files::newUUID().substr(0, 8);
}

void DropboxService::setPageLimit(int entries) {
    std::lock_guard<std::mutex> guard(mutex_);
    pageLimit_ = std::max(1, entries);
}

void DropboxService::setQuota(std::optional<int64_t> bytes) {
    std::lock_guard<std::mutex> guard(mutex_);
    quota_ = bytes;
}

std::string DropboxService::issueToken(double lifetimeSeconds) {
    std::lock_guard<std::mutex> guard(mutex_);
    std::string token = "sl.standin-" + Files::newUUID();
    tokens_[token] = IsoDate::nowSeconds() + lifetimeSeconds;
    return token;
}

void DropboxService::revokeTokens() {
    std::lock_guard<std::mutex> guard(mutex_);
    tokens_.clear();
}

void DropboxService::setTokenLifetime(double seconds) {
    std::lock_guard<std::mutex> guard(mutex_);
    tokenLifetime_ = seconds;
}

void DropboxService::setTokenFailure(int status, const std::string& code) {
    std::lock_guard<std::mutex> guard(mutex_);
    tokenFailure_ = std::make_pair(status, code);
}

void DropboxService::clearTokenFailure() {
    std::lock_guard<std::mutex> guard(mutex_);
    tokenFailure_.reset();
}

void DropboxService::setTokenFields(const json& fields) {
    std::lock_guard<std::mutex> guard(mutex_);
    tokenFields_ = std::make_unique<json>(fields);
}

void DropboxService::setAccount(const std::string& account) {
    std::lock_guard<std::mutex> guard(mutex_);
    account_ = account;
}

}  // namespace brindle::devserver
