#pragma once

#include "dropbox/DropboxCredentials.h"
#include "service/HTTP.h"
#include "threeway/RemoteStore.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

namespace brindle {

// The remote store of an app folder on Dropbox, over the Dropbox HTTP API v2.
// Paths are display paths without a leading "/". Every call blocks until its
// exchange is done and may run on several threads at once. Failures are
// DropboxFailure values (reset() when a change cursor is stale), or the
// credential source's own errors, which pass through unchanged.
//
// Each call makes up to 4 attempts: transport failures, 429 and 5xx answers
// are retried after 1, 2, 4, 8 seconds (or the server's Retry-After, at most
// 30 seconds); a 401 drops the cached credential once and retries with a
// fresh one. Files are streamed from and to disk, never held in memory.
class DropboxAPI final : public RemoteStore {
public:
    using Pause = std::function<void(double seconds)>;
    enum class Kind { api, content };

    // pause: how to wait between attempts; by default the calling thread sleeps.
    explicit DropboxAPI(std::shared_ptr<DropboxCredentials> credentials, Pause pause = blockingPause);

    std::string account() override;
    RemoteListing listAll() override;
    RemoteListing listChanges(const std::string& cursor) override;
    // Writes the file to `to` only once it arrived whole; a failed download
    // leaves `to` untouched and no temporary file behind.
    void download(const std::string& path, const std::filesystem::path& to) override;
    RemoteFile upload(const std::string& path, const std::filesystem::path& from,
                      const std::optional<std::string>& updateRev) override;
    void remove(const std::string& path, const std::optional<std::string>& rev) override;

    // The "Dropbox-API-Arg" header value of an argument: its compact JSON text
    // with every character beyond ASCII written as \uXXXX (lower-case hex,
    // UTF-16 surrogate pairs for characters beyond the BMP).
    static std::string headerArgument(const nlohmann::json& argument);

    // Sleeps the calling thread.
    static void blockingPause(double seconds);

    // Longest pause between attempts, whatever Retry-After says.
    static constexpr double kMaxPause = 30;
    static constexpr int kAttempts = 4;

private:
    // One attempt's request, with a credential fetched for it.
    HTTP::Request request(Kind kind, const std::string& path, const std::map<std::string, std::string>& headers,
                          const nlohmann::json* body, const std::optional<std::filesystem::path>& uploadFile);
    std::string send(Kind kind, const std::string& path, const std::map<std::string, std::string>& headers,
                     const nlohmann::json* body, const std::optional<std::filesystem::path>& uploadFile,
                     const std::optional<std::filesystem::path>& downloadTo);
    RemoteListing listFrom(std::string endpoint, nlohmann::json argument);

    std::shared_ptr<DropboxCredentials> credentials_;
    Pause pause_;
};

}  // namespace brindle
