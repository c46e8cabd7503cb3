#pragma once

#include <functional>
#include <map>
#include <mutex>

#include "threeway/RemoteStore.h"

namespace brindle::test {

// An in-memory RemoteStore that behaves like Dropbox (revisions, a change
// feed with cursors, "add" refusing to replace a different file, "update"
// refusing a stale revision) and can be made to misbehave. Thread-safe, but
// the public maps are set only while no call runs.
class FakeRemoteStore : public RemoteStore {
public:
    enum class Call { account, listAll, listChanges, download, upload, remove };

    explicit FakeRemoteStore(std::string account = "account-1") : account_(std::move(account)) {}

    // Changes from the outside, as another computer would make them; key
    // (normally pathKey(path)) may be given as a hostile store would list it.
    void put(const std::string& path, const std::string& content, double modified = 0, std::string key = "");
    void erase(const std::string& path);
    void setAccount(const std::string& account);
    std::optional<std::string> content(const std::string& path) const;  // by exact path
    std::map<std::string, std::string> contents() const;                // path -> content

    // A failure throws DropboxFailure::message(message) when call (and path,
    // when not empty) matches, `times` times (-1: always); a midway one writes
    // part of a download first.
    void fail(Call call, const std::string& message, int times = -1, const std::string& path = "", bool midway = false);
    // The next listChanges answers with a reset.
    void resetCursor();
    // Runs before every call (after its failure check), outside the lock.
    void onCall(std::function<void(Call, const std::string& path)> hook);
    int calls(Call call) const;
    // Uploads of a path reported with another hash; downloads serving other content than listed.
    std::map<std::string, std::string> reportedHash, served;

    std::string account() override;
    RemoteListing listAll() override;
    RemoteListing listChanges(const std::string& cursor) override;
    void download(const std::string& path, const std::filesystem::path& to) override;
    RemoteFile upload(const std::string& path, const std::filesystem::path& from,
                      const std::optional<std::string>& updateRev) override;
    void remove(const std::string& path, const std::optional<std::string>& rev) override;

private:
    struct File {
        std::string path, content, rev;
        double modified = 0;
    };
    struct Fault {
        Call call;
        std::string path, message;
        int times;
        bool midway;
    };
    static RemoteFile record(const File& file);
    // Counts the call and throws the first fault that matches; a midway one writes partial first.
    void check(Call call, const std::string& path, const std::filesystem::path* partial = nullptr);
    void store(const std::string& key, File file);    // call with lock_ held
    const File* find(const std::string& path) const;  // by exact path; call with lock_ held

    mutable std::mutex lock_;  // guards everything below
    std::string account_;
    std::map<std::string, File> files_;               // by key
    std::vector<std::pair<std::string, bool>> feed_;  // key, deleted
    std::vector<Fault> faults_;
    std::map<Call, int> calls_;
    bool resetNext_ = false;
    int nextRev_ = 1;
    std::function<void(Call, const std::string&)> hook_;
};

}  // namespace brindle::test
