#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

struct stat;

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace brindle::devserver {

class DevServer;

// The stand-in for the Dropbox API v2 subset (files/list_folder and
// list_folder/continue, files/upload, files/download, files/delete_v2) over a
// real folder, "dropbox" in the server's data folder, and for the Brindle
// service's hand-out of Dropbox credentials
// (POST /api/v1/larder/token?provider=dropbox).
//
// The folder is the truth: every request first rescans it, so files written
// into it by tests or by hand show up as changes with new revisions. Access
// tokens are the ones this service handed out; others get 401. Faults are
// injected through DevServer::injectFault / injectEvery. Every member is safe
// from any thread.
//
// For the demo, which runs the stand-in as its own program, one more route:
// GET /devserver/reports gives the sync reports received since the last look
// as plain lines.
class DropboxService {
public:
    explicit DropboxService(DevServer& server);
    ~DropboxService();
    DropboxService(const DropboxService&) = delete;
    DropboxService& operator=(const DropboxService&) = delete;

    // Adds this service's routes to http.
    void install(httplib::Server& http);

    // The app folder as it lies on disk.
    std::filesystem::path folder() const;

    // Direct access to the app folder, as if another computer changed it.
    // Paths are relative, "/" separated.
    void writeFile(const std::string& path, const std::string& content);
    std::optional<std::string> readFile(const std::string& path) const;
    void deleteFile(const std::string& path);
    // Every file: display path → content hash, sorted by path.
    std::map<std::string, std::string> list();
    // The current revision of a file ("" when there is none).
    std::string revisionOf(const std::string& path);

    // Makes every cursor handed out so far stale ("reset/").
    void resetCursors();
    // At most this many entries per listing page (on top of the caller's limit).
    void setPageLimit(int entries);
    // Uploads that would take the folder over this many bytes fail with
    // "insufficient_space"; nothing: no limit.
    void setQuota(std::optional<int64_t> bytes);

    // A fresh access token valid for lifetimeSeconds, as the token route gives.
    std::string issueToken(double lifetimeSeconds = 4 * 3600);
    // Every token handed out so far stops working (401).
    void revokeTokens();
    // Lifetime of the tokens the token route hands out.
    void setTokenLifetime(double seconds);
    // The token route answers status with {"error": code} (no "error" member
    // when code is empty) until clearTokenFailure().
    void setTokenFailure(int status, const std::string& code);
    void clearTokenFailure();
    // The Dropbox account id the token route names.
    void setAccount(const std::string& account);
    // Members laid over the token route's answer; a null member is left out
    // (e.g. {"api_base": null} or {"expires_at": "2030-01-01T00:00:00Z"}).
    void setTokenFields(const nlohmann::json& fields);

private:
    struct Item {
        std::string display;  // relative path on disk
        std::string rev;
        std::string hash;
        int64_t size = 0;
        int64_t mtimeNs = 0;
        double serverModified = 0;
        uint64_t seq = 0;  // position in the change feed
    };
    struct Tombstone {
        std::string display;
        uint64_t seq = 0;
    };
    struct Answer;

    void installDemoHooks(httplib::Server& http);
    void serve(const httplib::Request& request, httplib::Response& response, bool needsToken,
               Answer (DropboxService::*handler)(const httplib::Request&));
    Answer listFolder(const httplib::Request& request);
    Answer listContinue(const httplib::Request& request);
    Answer upload(const httplib::Request& request);
    Answer download(const httplib::Request& request);
    Answer remove(const httplib::Request& request);
    Answer token(const httplib::Request& request);

    // Everything below runs with mutex_ held.
    bool tokenValid(const std::string& authorization) const;
    void rescan();
    void refreshOne(const std::string& display);
    void refreshFile(const std::string& display, const struct stat& info);
    void record(const std::string& key, const std::filesystem::path& file, const std::string& display,
                const std::string& hash);
    void forget(const std::string& key);
    std::string resolve(const std::string& relative) const;
    Answer page(std::vector<nlohmann::json> entries, uint64_t seen, const std::string& prefix, bool recursive,
                int limit);
    std::string cursorFor(uint64_t seq, const std::string& prefix, bool recursive) const;
    nlohmann::json metadata(const Item& item) const;
    int64_t usedBytes() const;

    DevServer& server_;
    std::filesystem::path root_;     // the app folder
    std::filesystem::path staging_;  // uploads are written here, then renamed into root_

    mutable std::mutex mutex_;  // guards everything below
    std::map<std::string, Item> items_;  // by key (NFC, lower case)
    std::map<std::string, Tombstone> tombstones_;
    uint64_t seq_ = 0;
    uint64_t revs_ = 0;
    std::string epoch_;
    int pageLimit_ = 2000;
    std::optional<int64_t> quota_;
    std::map<std::string, double> tokens_;  // token → expiry, seconds since 1970
    double tokenLifetime_ = 4 * 3600;
    std::optional<std::pair<int, std::string>> tokenFailure_;
    std::string account_ = "dbid:AAB-standin-account";
    std::unique_ptr<nlohmann::json> tokenFields_;
    size_t reportsShown_ = 0;  // reports already described to the demo
};

}  // namespace brindle::devserver
