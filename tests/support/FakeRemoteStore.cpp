#include "support/FakeRemoteStore.h"

#include "common/DropboxHash.h"
#include "support/TempDir.h"
#include "threeway/DropboxFailure.h"

namespace brindle::test {

void FakeRemoteStore::put(const std::string& path, const std::string& content, double modified, std::string key) {
    locked([&] { store(key.empty() ? pathKey(path) : key, File{path, content, "", modified}); });
}

void FakeRemoteStore::erase(const std::string& path) {
    locked([&] {
        files_.erase(pathKey(path));
        feed_.emplace_back(pathKey(path), true);
    });
}

std::optional<std::string> FakeRemoteStore::content(const std::string& path) const {
    return locked([&] { return find(path) ? std::optional(find(path)->content) : std::nullopt; });
}

std::map<std::string, std::string> FakeRemoteStore::contents() const {
    Guard guard(lock_);
    std::map<std::string, std::string> all;
    for (const auto& [key, file] : files_) all[file.path] = file.content;
    return all;
}

void FakeRemoteStore::fail(Call call, const std::string& message, int times, const std::string& path, bool midway) {
    locked([&] { faults_.push_back(Fault{call, path, message, times, midway}); });
}

RemoteFile FakeRemoteStore::record(const File& file) {
    return RemoteFile{file.path, DropboxHash::ofBytes(file.content), file.rev,
                      static_cast<int64_t>(file.content.size()), file.modified};
}

// Counts the call and throws the first fault that matches, then runs the hook.
void FakeRemoteStore::check(Call call, const std::string& path, const std::filesystem::path* partial) {
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

void FakeRemoteStore::store(const std::string& key, File file) {
    file.rev = "rev" + std::to_string(nextRev_++);
    files_[key] = std::move(file);
    feed_.emplace_back(key, false);
}

const FakeRemoteStore::File* FakeRemoteStore::find(const std::string& path) const {
    for (const auto& [key, file] : files_)
        if (file.path == path) return &file;
    return nullptr;
}

std::string FakeRemoteStore::account() {
    check(Call::account, "");
    return locked([&] { return account_; });
}

RemoteListing FakeRemoteStore::listAll() {
    check(Call::listAll, "");
    Guard guard(lock_);
    RemoteListing listing{{}, "c" + std::to_string(feed_.size()), {}};
    for (const auto& [key, file] : files_) listing.entries.push_back(RemoteEntry{false, key, record(file)});
    return listing;
}

RemoteListing FakeRemoteStore::listChanges(const std::string& cursor) {
    check(Call::listChanges, "");
    Guard guard(lock_);
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

void FakeRemoteStore::download(const std::string& path, const std::filesystem::path& to) {
    check(Call::download, path, &to);
    Guard guard(lock_);
    const File* file = find(path);
    if (!file) throw DropboxFailure::message("path/not_found/");
    writeFile(to, served.count(path) ? served.at(path) : file->content);
}

RemoteFile FakeRemoteStore::upload(const std::string& path, const std::filesystem::path& from,
                                   const std::optional<std::string>& updateRev) {
    check(Call::upload, path);
    std::string content = readFile(from), key = pathKey(path);
    Guard guard(lock_);
    // Like Dropbox: "add" never replaces another file, "update" needs the current revision.
    if (auto existing = files_.find(key); existing != files_.end() && (updateRev ? *updateRev != existing->second.rev
                                                                                 : existing->second.content != content))
        throw DropboxFailure::message("path/conflict/file/");
    store(key, File{path, content, "", 0});
    RemoteFile stored = record(files_[key]);
    if (reportedHash.count(path)) stored.hash = reportedHash.at(path);
    return stored;
}

void FakeRemoteStore::remove(const std::string& path, const std::optional<std::string>& rev) {
    check(Call::remove, path);
    Guard guard(lock_);
    auto existing = files_.find(pathKey(path));
    if (existing == files_.end()) throw DropboxFailure::message("path_lookup/not_found/");
    if (rev && !rev->empty() && *rev != existing->second.rev) throw DropboxFailure::message("path_lookup/conflict/");
    feed_.emplace_back(existing->first, true);
    files_.erase(existing);
}

}  // namespace brindle::test
