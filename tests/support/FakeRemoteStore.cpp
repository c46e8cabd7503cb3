#include "support/FakeRemoteStore.h"

#include "common/DropboxHash.h"
#include "common/Files.h"
#include "support/TempDir.h"
#include "threeway/DropboxFailure.h"

namespace brindle::test {

FakeRemoteStore::FakeRemoteStore(std::string account) : account_(std::move(account)) {}

void FakeRemoteStore::put(const std::string& path, const std::string& content, double modified) {
    std::lock_guard<std::mutex> guard(lock_);
    std::string key = pathKey(path);
    files_[key] = File{path, content, "rev" + std::to_string(nextRev_++), modified};
    changed(key);
}

void FakeRemoteStore::erase(const std::string& path) {
    std::lock_guard<std::mutex> guard(lock_);
    std::string key = pathKey(path);
    files_.erase(key);
    feed_.emplace_back(key, true);
}

void FakeRemoteStore::setAccount(const std::string& account) {
    std::lock_guard<std::mutex> guard(lock_);
    account_ = account;
}

std::optional<std::string> FakeRemoteStore::content(const std::string& path) const {
    std::lock_guard<std::mutex> guard(lock_);
    for (const auto& [key, file] : files_)
        if (file.path == path) return file.content;
    return std::nullopt;
}

std::map<std::string, std::string> FakeRemoteStore::contents() const {
    std::lock_guard<std::mutex> guard(lock_);
    std::map<std::string, std::string> all;
    for (const auto& [key, file] : files_) all[file.path] = file.content;
    return all;
}

void FakeRemoteStore::fail(Call call, const std::string& message, int times, const std::string& path) {
    std::lock_guard<std::mutex> guard(lock_);
    faults_.push_back(Fault{call, path, message, times, false});
}

void FakeRemoteStore::failDownloadMidway(const std::string& path, const std::string& message) {
    std::lock_guard<std::mutex> guard(lock_);
    faults_.push_back(Fault{Call::download, path, message, -1, true});
}

void FakeRemoteStore::resetCursor() {
    std::lock_guard<std::mutex> guard(lock_);
    resetNext_ = true;
}

void FakeRemoteStore::reportHashAfterUpload(const std::string& path, const std::string& hash) {
    std::lock_guard<std::mutex> guard(lock_);
    reportedHash_[path] = hash;
}

void FakeRemoteStore::serveContent(const std::string& path, const std::string& content) {
    std::lock_guard<std::mutex> guard(lock_);
    served_[path] = content;
}

void FakeRemoteStore::listRaw(const std::string& key, const std::string& path, const std::string& content) {
    std::lock_guard<std::mutex> guard(lock_);
    files_[key] = File{path, content, "rev" + std::to_string(nextRev_++), 0};
    changed(key);
}

void FakeRemoteStore::onCall(std::function<void(Call, const std::string&)> hook) {
    std::lock_guard<std::mutex> guard(lock_);
    hook_ = std::move(hook);
}

int FakeRemoteStore::calls(Call call) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto found = calls_.find(call);
    return found == calls_.end() ? 0 : found->second;
}

RemoteFile FakeRemoteStore::record(const File& file) const {
    return RemoteFile{file.path, DropboxHash::ofBytes(file.content), file.rev,
                      static_cast<int64_t>(file.content.size()), file.modified};
}

void FakeRemoteStore::check(Call call, const std::string& path, bool* midway) {
    std::function<void(Call, const std::string&)> hook;
    {
        std::lock_guard<std::mutex> guard(lock_);
        ++calls_[call];
        for (auto& fault : faults_) {
            if (fault.call != call || fault.times == 0 || (!fault.path.empty() && fault.path != path)) continue;
            if (fault.times > 0) --fault.times;
            if (midway) *midway = fault.midway;
            throw DropboxFailure::message(fault.message);
        }
        hook = hook_;
    }
    if (hook) hook(call, path);
}

void FakeRemoteStore::changed(const std::string& key) {
    feed_.emplace_back(key, false);
}

std::string FakeRemoteStore::cursorNow() const {
    return "c" + std::to_string(feed_.size());
}

std::string FakeRemoteStore::account() {
    check(Call::account, "");
    std::lock_guard<std::mutex> guard(lock_);
    return account_;
}

RemoteListing FakeRemoteStore::listAll() {
    check(Call::listAll, "");
    std::lock_guard<std::mutex> guard(lock_);
    RemoteListing listing;
    for (const auto& [key, file] : files_) listing.entries.push_back(RemoteEntry{false, key, record(file)});
    listing.cursor = cursorNow();
    return listing;
}

RemoteListing FakeRemoteStore::listChanges(const std::string& cursor) {
    check(Call::listChanges, "");
    std::lock_guard<std::mutex> guard(lock_);
    size_t from = 0;
    bool valid = cursor.size() > 1 && cursor[0] == 'c';
    if (valid) {
        from = std::stoul(cursor.substr(1));
        valid = from <= feed_.size();
    }
    if (resetNext_ || !valid) {
        resetNext_ = false;
        throw DropboxFailure::reset();
    }
    RemoteListing listing;
    for (size_t i = from; i < feed_.size(); ++i) {
        const auto& [key, deleted] = feed_[i];
        auto found = files_.find(key);
        if (deleted || found == files_.end())
            listing.entries.push_back(RemoteEntry{true, key, std::nullopt});
        else
            listing.entries.push_back(RemoteEntry{false, key, record(found->second)});
    }
    listing.cursor = cursorNow();
    return listing;
}

void FakeRemoteStore::download(const std::string& path, const std::filesystem::path& to) {
    bool midway = false;
    std::string content;
    try {
        check(Call::download, path, &midway);
    } catch (const DropboxFailure&) {
        if (midway) writeFile(to, "partial");
        throw;
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        std::optional<std::string> found;
        for (const auto& [key, file] : files_)
            if (file.path == path) found = file.content;
        if (!found) throw DropboxFailure::message("path/not_found/");
        content = served_.count(path) ? served_[path] : *found;
    }
    writeFile(to, content);
}

RemoteFile FakeRemoteStore::upload(const std::string& path, const std::filesystem::path& from,
                                   const std::optional<std::string>& updateRev) {
    check(Call::upload, path);
    auto content = Files::read(from);
    if (!content) throw DropboxFailure::message("Couldn't read " + from.string());
    std::lock_guard<std::mutex> guard(lock_);
    std::string key = pathKey(path);
    auto existing = files_.find(key);
    if (existing != files_.end()) {
        // Like Dropbox: "add" never replaces another file, "update" needs the current revision.
        bool same = existing->second.content == *content;
        if (!updateRev && !same) throw DropboxFailure::message("path/conflict/file/");
        if (updateRev && *updateRev != existing->second.rev) throw DropboxFailure::message("path/conflict/file/");
    }
    files_[key] = File{path, *content, "rev" + std::to_string(nextRev_++), 0};
    changed(key);
    RemoteFile stored = record(files_[key]);
    if (auto reported = reportedHash_.find(path); reported != reportedHash_.end()) stored.hash = reported->second;
    return stored;
}

void FakeRemoteStore::remove(const std::string& path, const std::optional<std::string>& rev) {
    check(Call::remove, path);
    std::lock_guard<std::mutex> guard(lock_);
    std::string key = pathKey(path);
    auto existing = files_.find(key);
    if (existing == files_.end()) throw DropboxFailure::message("path_lookup/not_found/");
    if (rev && !rev->empty() && *rev != existing->second.rev) throw DropboxFailure::message("path_lookup/conflict/");
    files_.erase(existing);
    feed_.emplace_back(key, true);
}

}  // namespace brindle::test
