#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "threeway/RemoteStore.h"

namespace brindle::test {

// An in-memory RemoteStore that behaves like Dropbox (revisions, a change
// feed with cursors, "add" refusing to replace a different file, "update"
// refusing a stale revision) and can be made to misbehave: fail any call,
// answer a reset, store a different hash than it was sent, serve content that
// does not match its listed hash, and list hostile paths. Thread-safe.
class FakeRemoteStore : public RemoteStore {
public:
    enum class Call { account, listAll, listChanges, download, upload, remove };

    struct File {
        std::string path;
        std::string content;
        std::string rev;
        double modified = 0;
    };

    explicit FakeRemoteStore(std::string account = "account-1");

    // Changing the store from the outside (as another computer would).
    void put(const std::string& path, const std::string& content, double modified = 0);
    void erase(const std::string& path);
    void setAccount(const std::string& account);

    std::optional<std::string> content(const std::string& path) const;  // by exact path
    std::map<std::string, std::string> contents() const;                // path -> content

    // Misbehaviour. A failure throws DropboxFailure::message(message) when
    // call (and path, when not empty) matches, `times` times (-1: always).
    void fail(Call call, const std::string& message, int times = -1, const std::string& path = "");
    // Writes half the content to the destination before failing a download.
    void failDownloadMidway(const std::string& path, const std::string& message);
    // The next listChanges answers with a reset.
    void resetCursor();
    // Uploads of path are reported with this hash instead of the real one.
    void reportHashAfterUpload(const std::string& path, const std::string& hash);
    // Downloads of path serve this content; the listing keeps the real hash.
    void serveContent(const std::string& path, const std::string& content);
    // Lists an entry whose key and path are taken as given (hostile stores);
    // it downloads as content.
    void listRaw(const std::string& key, const std::string& path, const std::string& content);
    // Runs before every call (after its failure check), outside the lock.
    void onCall(std::function<void(Call, const std::string& path)> hook);

    int calls(Call call) const;

    std::string account() override;
    RemoteListing listAll() override;
    RemoteListing listChanges(const std::string& cursor) override;
    void download(const std::string& path, const std::filesystem::path& to) override;
    RemoteFile upload(const std::string& path, const std::filesystem::path& from,
                      const std::optional<std::string>& updateRev) override;
    void remove(const std::string& path, const std::optional<std::string>& rev) override;

private:
    struct Fault {
        Call call;
        std::string path;
        std::string message;
        int times;
        bool midway;
    };
    RemoteFile record(const File& file) const;
    void check(Call call, const std::string& path, bool* midway = nullptr);
    void changed(const std::string& key);  // call with lock_ held
    std::string cursorNow() const;         // call with lock_ held

    mutable std::mutex lock_;  // guards everything below
    std::string account_;
    std::map<std::string, File> files_;               // by key
    std::vector<std::pair<std::string, bool>> feed_;  // key, deleted
    std::map<std::string, std::string> reportedHash_, served_;
    std::vector<Fault> faults_;
    std::map<Call, int> calls_;
    bool resetNext_ = false;
    int nextRev_ = 1;
    std::function<void(Call, const std::string&)> hook_;
};

}  // namespace brindle::test
