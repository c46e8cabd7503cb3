#pragma once

#include <functional>
#include <map>
#include <mutex>

#include "threeway/RemoteStore.h"

namespace brindle::test {

// An in-memory RemoteStore that behaves like Dropbox (revisions, a change feed,
// "add" refusing to replace another file, "update" a stale revision) and can be
// made to misbehave. Thread-safe; the public maps are set only between calls.
class FakeRemoteStore : public RemoteStore {
public:
    enum class Call { account, listAll, listChanges, download, upload, remove };
    using Hook = std::function<void(Call, const std::string& path)>;
    using Guard = std::lock_guard<std::mutex>;

    explicit FakeRemoteStore(std::string account = "account-1") : account_(std::move(account)) {}
    template <typename Body>
    decltype(auto) locked(Body body) const {
        Guard guard(lock_);
        return body();
    }

    // Another computer's changes; key (normally pathKey(path)) as a hostile store may list it.
    void put(const std::string& path, const std::string& content, double modified = 0, std::string key = "");
    void erase(const std::string& path);
    void setAccount(const std::string& account) { locked([&] { account_ = account; }); }
    void resetCursor() { locked([&] { resetNext_ = true; }); }  // the next listChanges answers with a reset
    void onCall(Hook hook) { locked([&] { hook_ = std::move(hook); }); }  // before each call, outside the lock
    std::optional<std::string> content(const std::string& path) const;  // by exact path
    std::map<std::string, std::string> contents() const;                // path -> content
    int calls(Call call) const { return locked([&] { return calls_[call]; }); }
    // call (on path, unless empty) throws DropboxFailure::message(message) `times` times (-1: always);
    // a midway download writes part of the file first.
    void fail(Call call, const std::string& message, int times = -1, const std::string& path = "", bool midway = false);
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
    void check(Call call, const std::string& path, const std::filesystem::path* partial = nullptr);
    void store(const std::string& key, File file);    // with lock_ held
    const File* find(const std::string& path) const;  // by exact path, with lock_ held

    mutable std::mutex lock_;  // guards everything below
    std::string account_;
    std::map<std::string, File> files_;               // by key
    std::vector<std::pair<std::string, bool>> feed_;  // key, deleted
    std::vector<Fault> faults_;
    mutable std::map<Call, int> calls_;
    bool resetNext_ = false;
    int nextRev_ = 1;
    Hook hook_;
};

}  // namespace brindle::test
