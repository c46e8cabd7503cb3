#pragma once

#include <functional>
#include <map>
#include <mutex>

#include "common/DropboxHash.h"
#include "support/TempDir.h"
#include "threeway/DropboxFailure.h"
#include "threeway/RemoteStore.h"

namespace brindle::test {

// An in-memory RemoteStore that behaves like Dropbox (revisions, a change feed,
// "add" refusing to replace another file, "update" a stale revision) and can be
// made to misbehave. Thread-safe; the public maps are set only between calls.
class FakeRemoteStore : public RemoteStore {
    template <typename Body>
    decltype(auto) locked(Body body) const {
        std::lock_guard<std::mutex> guard(lock_);
        return body();
    }

public:
    enum class Call { account, listAll, listChanges, download, upload, remove };
    using Hook = std::function<void(Call, const std::string& path)>;

    explicit FakeRemoteStore(std::string account = "account-1") : account_(std::move(account)) {}

    // Another computer's changes; key (normally pathKey(path)) as a hostile store may list it.
    void put(const std::string& path, const std::string& content, double modified = 0, std::string key = "") {
        locked([&] { store(key.empty() ? pathKey(path) : key, File{path, content, "", modified}); });
    }
    void erase(const std::string& path) {
        locked([&] {
            files_.erase(pathKey(path));
            feed_.emplace_back(pathKey(path), true);
        });
    }
    void resetCursor() {
        locked([&] { resetNext_ = true; });
    }  // the next listChanges answers with a reset
    void onCall(Hook hook) {
        locked([&] { hook_ = std::move(hook); });
    }  // before each call, outside the lock
    int calls(Call call) const {
        return locked([&] { return calls_[call]; });
    }
    std::optional<std::string> content(const std::string& path) const {  // by exact path
        return locked([&] { return find(path) ? std::optional(find(path)->content) : std::nullopt; });
    }
    std::map<std::string, std::string> contents() const {  // path -> content
        std::map<std::string, std::string> all;
        locked([&] {
            for (const auto& [key, file] : files_) all[file.path] = file.content;
        });
        return all;
    }
    // call (on path, unless empty) throws DropboxFailure::message(message) `times` times (-1: always);
    // a midway download writes part of the file first.
    void fail(Call call, const std::string& message, int times = -1, const std::string& path = "",
              bool midway = false) {
        locked([&] { faults_.push_back(Fault{call, path, message, times, midway}); });
    }
    // Uploads of a path reported with another hash; downloads serving other content than listed.
    std::map<std::string, std::string> reportedHash, served;

    std::string account() override {
        check(Call::account, "");
        return locked([&] { return account_; });
    }
    RemoteListing listAll() override {
        check(Call::listAll, "");
        return locked([&] {
            RemoteListing listing{{}, "c" + std::to_string(feed_.size()), {}};
            for (const auto& [key, file] : files_) listing.entries.push_back(RemoteEntry{false, key, record(file)});
            return listing;
        });
    }
    RemoteListing listChanges(const std::string& cursor) override {
        check(Call::listChanges, "");
        std::lock_guard<std::mutex> guard(lock_);
        size_t from = cursor.starts_with("c") ? std::stoul(cursor.substr(1)) : feed_.size() + 1;
        if (std::exchange(resetNext_, false) || from > feed_.size()) throw DropboxFailure::reset();
        RemoteListing listing{{}, "c" + std::to_string(feed_.size()), {}};
        for (size_t i = from; i < feed_.size(); ++i) {
            auto found = files_.find(feed_[i].first);
            bool gone = feed_[i].second || found == files_.end();
            listing.entries.push_back(
                RemoteEntry{gone, feed_[i].first, gone ? std::nullopt : std::optional(record(found->second))});
        }
        return listing;
    }
    void download(const std::string& path, const std::filesystem::path& to) override {
        check(Call::download, path, &to);
        std::lock_guard<std::mutex> guard(lock_);
        if (!find(path)) throw DropboxFailure::message("path/not_found/");
        writeFile(to, served.count(path) ? served.at(path) : find(path)->content);
    }
    RemoteFile upload(const std::string& path, const std::filesystem::path& from,
                      const std::optional<std::string>& updateRev) override {
        check(Call::upload, path);
        std::string content = readFile(from), key = pathKey(path);
        std::lock_guard<std::mutex> guard(lock_);
        // Like Dropbox: "add" never replaces another file, "update" needs the current revision.
        if (auto old = files_.find(key);
            old != files_.end() && (updateRev ? *updateRev != old->second.rev : old->second.content != content))
            throw DropboxFailure::message("path/conflict/file/");
        store(key, File{path, content, "", 0});
        RemoteFile stored = record(files_[key]);
        if (reportedHash.count(path)) stored.hash = reportedHash.at(path);
        return stored;
    }
    void remove(const std::string& path, const std::optional<std::string>& rev) override {
        check(Call::remove, path);
        std::lock_guard<std::mutex> guard(lock_);
        auto old = files_.find(pathKey(path));
        if (old == files_.end()) throw DropboxFailure::message("path_lookup/not_found/");
        if (rev && !rev->empty() && *rev != old->second.rev) throw DropboxFailure::message("path_lookup/conflict/");
        feed_.emplace_back(old->first, true);
        files_.erase(old);
    }

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
    static RemoteFile record(const File& file) {
        return RemoteFile{file.path, DropboxHash::ofBytes(file.content), file.rev,
                          static_cast<int64_t>(file.content.size()), file.modified};
    }
    // Counts the call and throws the first fault that matches, then runs the hook.
    void check(Call call, const std::string& path, const std::filesystem::path* partial = nullptr) {
        Hook hook = locked([&] {
            ++calls_[call];
            for (auto& fault : faults_) {
                if (fault.call != call || fault.times == 0 || (!fault.path.empty() && fault.path != path)) continue;
                fault.times -= fault.times > 0;
                if (fault.midway && partial) writeFile(*partial, "partial");
                throw DropboxFailure::message(fault.message);
            }
            return hook_;
        });
        if (hook) hook(call, path);
    }
    void store(const std::string& key, File file) {  // with lock_ held
        file.rev = "rev" + std::to_string(nextRev_++);
        files_[key] = std::move(file);
        feed_.emplace_back(key, false);
    }
    const File* find(const std::string& path) const {  // by exact path, with lock_ held
        for (const auto& [key, file] : files_)
            if (file.path == path) return &file;
        return nullptr;
    }

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
