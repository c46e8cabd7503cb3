#include "threeway/DropboxSyncer.h"

#include "common/ConflictName.h"
#include "common/DropboxHash.h"
#include "common/Files.h"
#include "common/Text.h"
#include "common/Trash.h"
#include "threeway/DropboxFailure.h"
#include "threeway/PathCase.h"
#include "threeway/StaleAction.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace brindle {

namespace fs = std::filesystem;

namespace {

// Throws StaleAction unless the local file is still what the decision saw:
// the same size and time when expected, else absent.
void requireUnchanged(const fs::path& file, const std::string& rel, const std::optional<Local>& expected) {
    struct stat info {};
    bool exists = ::lstat(file.c_str(), &info) == 0;
    if (!exists && errno != ENOENT)
        throw DropboxFailure::message(std::string("Couldn't check it: ") + std::strerror(errno));
    bool same = expected ? exists && S_ISREG(info.st_mode) && info.st_size == expected->size &&
                               Files::mtimeNs(info) == expected->mtimeNs
                         : !exists;
    if (!same) throw StaleAction(rel);
}

std::vector<std::string> componentsOf(const std::string& rel) {
    std::vector<std::string> parts;
    for (auto& part : Text::split(rel, '/'))
        if (!part.empty()) parts.push_back(std::move(part));
    return parts;
}

}  // namespace

fs::path DropboxSyncer::safePath(const std::string& rel) const {
    auto refuse = [&] { return DropboxFailure::message("Refusing a path outside the folder: " + rel); };
    if (rel.empty() || rel.front() == '/' || rel.find('\0') != std::string::npos) throw refuse();
    std::vector<std::string> parts = componentsOf(rel);
    if (parts.empty()) throw refuse();
    for (const auto& part : parts)
        if (part == "..") throw refuse();
    // A folder on the way that is a symbolic link would lead outside.
    fs::path at = folder_;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        at /= parts[i];
        struct stat info {};
        if (::lstat(at.c_str(), &info) != 0) break;
        if (S_ISLNK(info.st_mode)) throw refuse();
    }
    return folder_ / rel;
}

bool DropboxSyncer::download(const std::string& key, const RemoteFile& remote,
                             const std::optional<std::string>& destRel, bool record,
                             const std::optional<Local>& expected) {
    // Into the file that is there, whatever its letter case, and into the
    // folders that are there: never a second folder differing only by case.
    // The scan found no file under this key, so a new file's name is not
    // looked up: reading its folder once per file would make a folder of n
    // new files cost n squared.
    if (!destRel && !expected) safePath(remote.path);  // refuses a hostile path before mapping it
    const std::string rel = destRel    ? *destRel
                            : expected ? expected->path
                                       : PathCase::resolveFolders(folder_, remote.path);
    const fs::path dest = safePath(rel);
    std::error_code error;
    fs::create_directories(dest.parent_path(), error);
    if (error) throw DropboxFailure::message("Couldn't save " + rel + ": " + error.message());

    Files::TemporaryFile temporary(dest.parent_path() / Files::temporaryName());
    store_->download(remote.path, temporary.path());
    if (!remote.hash.empty() && DropboxHash::of(temporary.path()) != remote.hash)
        throw DropboxFailure::message(remote.path + " changed while it was downloading; will retry");
    // Date the file 2 s back before it is visible: a conflict copy dated now
    // would count as busy at the next scan, and any edit made after the
    // rename gets a later time than the one recorded below, even within one
    // tick of the file system's clock.
    double then = clock_() - 2;
    timespec times[2] = {{0, UTIME_OMIT},
                         {static_cast<time_t>(std::floor(then)), static_cast<long>((then - std::floor(then)) * 1e9)}};
    struct stat info {};
    if (::utimensat(AT_FDCWD, temporary.path().c_str(), times, 0) != 0 || ::lstat(temporary.path().c_str(), &info) != 0)
        throw DropboxFailure::message("Couldn't save " + rel + ": " + std::strerror(errno));
    // Never replace a local edit made while the download ran.
    requireUnchanged(dest, rel, expected);
    if (::rename(temporary.path().c_str(), dest.c_str()) != 0)
        throw DropboxFailure::message("Couldn't save " + rel + ": " + std::strerror(errno));
    temporary.keep();
    {
        std::lock_guard<std::mutex> guard(lock_);
        changedLocal_ = true;
        unflushed_ = true;
    }
    if (!record) return false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        state_.base[key] = SyncBase{rel, remote.hash, remote.rev, info.st_size, Files::mtimeNs(info)};
        markStateChanged(key);
    }
    emit("downloaded", rel, info.st_size);
    log_("Downloaded " + rel + " from " + name_);
    return false;
}

bool DropboxSyncer::upload(const std::string& key, const Local& local, const ContentHash& localHash,
                           const std::optional<RemoteFile>& remote) {
    const std::string& path = remote ? remote->path : local.path;
    std::optional<std::string> updateRev;
    if (remote) updateRev = remote->rev;
    // The hash was taken at the scan; an edit since then is decided again.
    requireUnchanged(folder_ / local.path, local.path, local);
    RemoteFile uploaded = store_->upload(path, folder_ / local.path, updateRev);
    // Without a hash from the scan (a new file), the store's is the file's:
    // it hashed its copy of a file that stayed unchanged while copied.
    const bool hashed = !localHash.empty();
    if (!hashed && (!store_->hashesUploads() || uploaded.hash.empty()))
        throw DropboxFailure::message(local.path + " has no hash to check its copy against; will retry");
    {
        std::lock_guard<std::mutex> guard(lock_);
        // Recorded even when the check below fails, so the next cycle sees
        // what the store holds now.
        state_.remote[key] = uploaded;
        markStateChanged(key);
        if (hashed && !uploaded.hash.empty() && uploaded.hash != localHash)
            throw DropboxFailure::message(local.path + " didn't arrive intact; will retry");
        state_.base[key] =
            SyncBase{local.path, hashed ? localHash : uploaded.hash, uploaded.rev, local.size, local.mtimeNs};
    }
    emit("uploaded", local.path, local.size);
    log_("Uploaded " + local.path + " to " + name_);
    return false;
}

bool DropboxSyncer::removeRemote(const std::string& key, const RemoteFile& remote) {
    // Deleting in the store is only right while the file is really gone here:
    // not back meanwhile, and not merely hidden by a folder we cannot read.
    std::optional<std::string> basePath;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (auto base = state_.base.find(key); base != state_.base.end()) basePath = base->second.path;
    }
    std::string here = localFolders_.resolve(folder_, remote.path);
    requireUnchanged(safePath(here), here, std::nullopt);
    if (basePath && *basePath != remote.path) requireUnchanged(safePath(*basePath), *basePath, std::nullopt);
    store_->remove(remote.path, remote.rev);
    emit("deleted", remote.path, 0);
    log_("Deleted " + remote.path + " from " + name_);
    std::lock_guard<std::mutex> guard(lock_);
    state_.remote.erase(key);
    state_.base.erase(key);
    markStateChanged(key);
    return false;
}

bool DropboxSyncer::removeLocalFile(const std::string& key, const Local& local) {
    removeLocal(local.path, local);
    {
        std::lock_guard<std::mutex> guard(lock_);
        state_.base.erase(key);
        markStateChanged(key);
    }
    emit("deleted", local.path, 0);
    log_("Deleted " + local.path + " (removed from " + name_ + ")");
    return false;
}

void DropboxSyncer::removeLocal(const std::string& rel, const std::optional<Local>& expected) {
    const fs::path file = safePath(rel);
    // An edit made since the scan is uploaded instead of lost.
    requireUnchanged(file, rel, expected);
    // The other side deleted it; the user can still take it back from the Trash.
    Trash::Outcome trashed = Trash::put(file);
    if (!trashed.trashed) {
        if (::unlink(file.c_str()) != 0 && errno != ENOENT)
            throw DropboxFailure::message("Couldn't remove " + rel + ": " + std::strerror(errno));
        log_("Couldn't move " + rel + " to the Trash (" + trashed.reason + "); deleted it");
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        changedLocal_ = true;
    }
    // Folders the deletion emptied go too; the synced folder itself never does.
    std::vector<std::string> parts = componentsOf(rel);
    parts.pop_back();
    while (!parts.empty()) {
        fs::path folder = folder_;
        for (const auto& part : parts) folder /= part;
        if (::rmdir(folder.c_str()) != 0) break;
        parts.pop_back();
    }
}

bool DropboxSyncer::conflict(const std::string& key, const Local& local, const RemoteFile& remote) {
    // A pass killed after saving the copy but before recording the base
    // meets this conflict again: the copy it saved is kept, not made twice.
    std::optional<std::string> copy = existingCopy(local.path, remote);
    if (!copy) {
        std::string stamp = ConflictName::stamp(static_cast<std::time_t>(clock_()));
        copy = ConflictName::make(folder_, local.path, name_, stamp);
        download(key, remote, copy, false, std::nullopt);
    }
    {
        // The base is now the remote version, so the next cycle uploads the
        // local one over it; the copy is a new file and is uploaded too.
        std::lock_guard<std::mutex> guard(lock_);
        state_.base[key] = SyncBase{local.path, remote.hash, remote.rev, remote.size, 0};
        markStateChanged(key);
    }
    emit("conflict", local.path, remote.size);
    log_("Conflict on " + local.path + ": kept both, the " + name_ + " version is saved as " + *copy);
    return true;
}

std::optional<std::string> DropboxSyncer::existingCopy(const std::string& rel, const RemoteFile& remote) {
    if (remote.hash.empty()) return std::nullopt;
    for (const std::string& copy : ConflictName::existing(folder_, rel)) {
        struct stat info {};
        if (::lstat((folder_ / copy).c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size != remote.size)
            continue;
        try {
            if (DropboxHash::of(folder_ / copy) == remote.hash) return copy;
        } catch (const std::exception&) {
            // An unreadable copy holds nothing we can count on.
        }
    }
    return std::nullopt;
}

void DropboxSyncer::fail(const std::string& key, const std::map<std::string, Local>& local,
                         const std::string& message) {
    std::lock_guard<std::mutex> guard(lock_);
    std::string path = key;
    if (auto found = local.find(key); found != local.end())
        path = found->second.path;
    else if (auto remote = state_.remote.find(key); remote != state_.remote.end())
        path = remote->second.path;
    else if (auto base = state_.base.find(key); base != state_.base.end())
        path = base->second.path;
    errors_.push_back(path + ": " + message);
}

void DropboxSyncer::emit(const std::string& kind, const std::string& path, int64_t bytes) {
    std::lock_guard<std::mutex> guard(lock_);
    if (events_.size() < kMaxHeldEvents) events_.push_back(SyncEvent{kind, path, bytes});
}

}  // namespace brindle
