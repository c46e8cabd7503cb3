#include "git/Syncer.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <future>
#include <set>

#include "common/ConflictName.h"
#include "common/Files.h"
#include "common/IgnoreRules.h"
#include "common/IgnoredNames.h"
#include "common/Log.h"
#include "common/PassLock.h"
#include "common/Text.h"
#include "git/SyncerSupport.h"
#include "service/GitHubError.h"

namespace brindle {

namespace fs = std::filesystem;
using namespace SyncerSupport;

namespace {

void createFolders(const fs::path& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec) throw Error("Could not create " + path.string() + ": " + ec.message());
}

bool present(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// A placeholder ".NAME.icloud" stands for NAME, whose content is not on disk.
std::optional<std::string> evictedName(const std::string& name) {
    if (name.size() < 9 || name[0] != '.' || !Text::endsWith(name, ".icloud")) return std::nullopt;
    return name.substr(1, name.size() - 1 - 7);
}

}  // namespace

Syncer::Syncer(fs::path folder, Git git, std::string remoteURL, std::string deviceName)
    : folder_(std::move(folder)),
      git_(std::move(git)),
      remoteURL_(std::move(remoteURL)),
      deviceName_(std::move(deviceName)),
      clock_([] { return std::time(nullptr); }) {}

GitResult Syncer::required(const std::vector<std::string>& args) const {
    GitResult result = git_.run(args);
    if (result.status != 0) throw GitError(args, std::move(result));
    return result;
}

bool Syncer::succeeds(const std::vector<std::string>& args) const {
    return git_.run(args).status == 0;
}

std::optional<std::string> Syncer::resolve(const std::string& revision) const {
    GitResult result = git_.run({"rev-parse", "--verify", "-q", revision});
    if (result.status != 0) return std::nullopt;
    std::string oid = result.text();
    if (oid.empty()) return std::nullopt;
    return oid;
}

void Syncer::emit(const std::string& kind, const std::string& path, long long bytes) {
    if (events_.size() < kMaxHeldEvents) events_.push_back({kind, path, bytes});
}

void Syncer::sync() {
    events_.clear();
    held_.clear();
    createFolders(git_.gitDir());
    PassLock lock(git_.gitDir() / kPassLockName);
    deletionAnswer_ = DeletionGuard::take(git_.gitDir().parent_path(), kGuardName);
    prepare();

    // The fetch only touches the remote-tracking side of the repository, so
    // it runs while the local changes are committed: on a slow link that
    // hides most of the time it takes. "before" is read first, as the marker
    // of the last remote state seen.
    std::optional<std::string> before = resolve(kRemoteRef);
    const std::vector<std::string> fetch{"fetch", "-q", "--prune", "origin"};
    auto fetching = std::async(std::launch::async, [this, &fetch] { return git_.run(fetch); });
    try {
        commitLocalChanges();
    } catch (...) {
        fetching.wait();
        throw;
    }
    GitResult fetched = fetching.get();
    if (fetched.status != 0) throw GitError(fetch, std::move(fetched));

    std::optional<std::string> after = resolve(kRemoteRef);
    if (after) {
        if (!before) {
            GitResult tree = required({"ls-tree", "-r", "--name-only", "-z", kRemoteRef});
            for (const std::string& name : tree.nulFields()) {
                if (events_.size() >= kMaxHeldEvents) break;
                emit("downloaded", name, 0);
            }
        } else if (*before != *after) {
            emitDiff(*before, *after);
        }
    }
    pushLoop(after);
    if (!held_.empty()) throw held_.front();
}

void Syncer::pushLoop(std::optional<std::string> remote) {
    for (int attempt = 1;; ++attempt) {
        if (attempt > 1) remote = resolve(kRemoteRef);
        std::optional<std::string> local = resolve("HEAD");
        if (remote) {
            if (!local) return adoptRemote(*remote);
            if (*remote != *local && !succeeds({"merge-base", "--is-ancestor", kRemoteRef, "HEAD"})) {
                if (!mergeGuarded(kRemoteRef)) return;
                local = resolve("HEAD");
            }
        }
        if (!local) return;

        long long count = 1;
        if (remote && *remote == *local) return;  // nothing of ours is missing there
        if (remote) {
            std::string text = required({"rev-list", "--count", std::string(kRemoteRef) + "..HEAD"}).text();
            auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), count);
            if (failure != std::errc() || end != text.data() + text.size() || count == 0) return;
        }
        GitResult push = git_.run({"push", "-q", "origin", "HEAD:refs/heads/main"});
        if (push.status == 0) {
            Log::write("Pushed " + std::to_string(count) + " commit(s)");
            return;
        }
        Log::write("Push rejected (attempt " + std::to_string(attempt) + "): " + Text::trim(push.err));
        required({"fetch", "-q", "--prune", "origin"});
        if (attempt + 1 == 5) throw GitHubError("Could not push after several attempts; will retry.");
    }
}

void Syncer::adoptRemote(const std::string& remoteTip) {
    // The folder had nothing to commit: take the remote's contents as they are.
    // A hard reset overwrites untracked files without asking, and files left
    // out of commits (over the size limit, ignored names) are untracked.
    keepLocalFilesInTheWay();
    recordOperation({"adopt", kEmptyTree, remoteTip, {}});
    required({"reset", "-q", "--hard", kRemoteRef});
    clearOperation();
    Log::write("Downloaded existing Larder contents");
}

void Syncer::keepLocalFilesInTheWay() {
    const std::string stamp = ConflictName::stamp(clock_());
    std::set<std::string> folders;
    for (const std::string& field : required({"ls-tree", "-r", "-l", "-z", kRemoteRef}).nulFields()) {
        size_t tab = field.find('\t');
        if (tab == std::string::npos) continue;
        const std::string path = field.substr(tab + 1);
        // Anything but a folder where the remote needs one would be replaced.
        for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
            std::string parent = path.substr(0, slash);
            if (!folders.insert(parent).second) continue;
            struct stat info {};
            if (::lstat((folder_ / parent).c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) moveAside(parent, stamp);
        }
        std::vector<std::string> pieces;
        for (std::string& piece : Text::split(std::string_view(field).substr(0, tab), ' '))
            if (!piece.empty()) pieces.push_back(std::move(piece));
        // Submodule entries ("commit") leave the folder at their path alone.
        if (pieces.size() >= 4 && pieces[1] == "blob" && !holdsBlob(path, pieces[2], pieces[3])) moveAside(path, stamp);
    }
}

bool Syncer::holdsBlob(const std::string& path, const std::string& blob, const std::string& size) const {
    struct stat info {};
    if (::lstat((folder_ / path).c_str(), &info) != 0) return true;  // nothing there to lose
    if (!S_ISREG(info.st_mode) || std::to_string(info.st_size) != size) return false;
    GitResult hashed = git_.run({"hash-object", "--no-filters", "--", (folder_ / path).string()});
    return hashed.status == 0 && hashed.text() == blob;
}

void Syncer::moveAside(const std::string& path, const std::string& stamp) {
    const std::string copy = ConflictName::make(folder_, path, deviceName_, stamp);
    std::error_code ec;
    fs::rename(folder_ / path, folder_ / copy, ec);
    if (ec)
        throw Error("Could not move " + (folder_ / path).string() +
                    " aside before downloading the Larder: " + ec.message());
    Log::write("Kept this computer's " + path + " as " + copy + "; the remote has its own " + path);
}

void Syncer::prepare() {
    const bool folderWasMissing = !present(folder_);
    if (folderWasMissing) {
        createFolders(folder_);
        Log::write("Created folder " + folder_.string());
    }
    if (!present(git_.gitDir() / "HEAD")) {
        createFolders(git_.gitDir());
        configureNewRepository();
    } else {
        recoverInterruptedWork();
        if (git_.run({"remote", "get-url", "origin"}).text() != remoteURL_)
            required({"remote", "set-url", "origin", remoteURL_});
    }
    writeExcludeFile();
    if (folderWasMissing && resolve("HEAD")) {
        // A deleted folder is brought back from the last commit rather than
        // committed as the deletion of everything.
        std::string head = *resolve("HEAD");
        recordOperation({"restore", head, head, {}});
        required({"reset", "-q", "--hard", "HEAD"});
        clearOperation();
        Log::write("Folder was missing; restored contents from last sync");
    }
}

void Syncer::configureNewRepository() {
    required({"init", "-q", "-b", "main"});
    std::string email = deviceName_;
    for (char& c : email)
        if (c == ' ') c = '-';
    // core.ignorecase must say what the folder's file system really does: set
    // on a case-sensitive one, git would silently never add "notes.md" beside
    // a tracked "Notes.md".
    const std::vector<std::pair<std::string, std::string>> settings{
        {"core.bare", "false"},
        {"core.autocrlf", "false"},
        {"core.quotepath", "false"},
        {"core.precomposeunicode", "true"},
        {"core.ignorecase", folderIsCaseInsensitive() ? "true" : "false"},
        {"merge.renames", "true"},
        // Housekeeping runs inside the pass that triggers it: a gc detached
        // into the background would hold the repository's locks while the
        // next pass starts, which then has to wait for it.
        {"gc.autoDetach", "false"},
        {"user.name", deviceName_},
        {"user.email", "larder@" + email + ".local"},
    };
    for (const auto& [key, value] : settings) required({"config", key, value});
    required({"remote", "add", "origin", remoteURL_});
    Log::write("Initialized sync repo at " + git_.gitDir().string());
}

bool Syncer::folderIsCaseInsensitive() const {
    const std::string probe = Files::temporaryName() + "-Case";
    std::string lower = probe;
    lower.replace(lower.size() - 4, 4, "case");
    int fd = ::open((folder_ / probe).c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    ::close(fd);
    bool insensitive = present(folder_ / lower);
    std::error_code ec;
    fs::remove(folder_ / probe, ec);
    return insensitive;
}

void Syncer::writeExcludeFile() {
    fs::path info = git_.gitDir() / "info";
    createFolders(info);
    std::string content;
    for (const std::string& pattern : IgnoredNames::littered()) content += pattern + "\n";
    // The user's rules go to git as written, so git itself applies them.
    content += IgnoreRules::load(folder_).text();
    // Rewritten on every pass; skipping an identical write saves an fsync.
    if (Files::read(info / "exclude") == content) return;
    Files::writeAtomically(info / "exclude", content);
}

namespace {

// Walks one folder level with readdir and one lstat per regular file: the
// folder may hold tens of thousands of files and this runs on every pass.
void scanLevel(int dirFd, const std::string& prefix, Syncer::Exclusions& found) {
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        const std::string relative = prefix + name;
        if (std::optional<std::string> evicted = evictedName(name)) {
            found.excludes.push_back(prefix + *evicted);
            continue;
        }
        unsigned char type = entry->d_type;
        struct stat info {};
        bool haveInfo = false;
        if (type == DT_UNKNOWN) {
            if (::fstatat(dirFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
            haveInfo = true;
            type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISREG(info.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        if (type == DT_DIR) {
            int child = ::openat(dirFd, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child >= 0) scanLevel(child, relative + "/", found);
            continue;
        }
        if (type != DT_REG) continue;
        if (!haveInfo && ::fstatat(dirFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISREG(info.st_mode) && info.st_size > Syncer::kLargeFileLimit) {
            found.excludes.push_back(relative);
            found.skippedLarge.push_back(relative);
        }
    }
    ::closedir(dir);
}

}  // namespace

Syncer::Exclusions Syncer::scanForExclusions() const {
    Exclusions found;
    int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) scanLevel(fd, "", found);
    return found;
}

void Syncer::commitLocalChanges() {
    Exclusions exclusions = scanForExclusions();
    if (!exclusions.skippedLarge.empty() && exclusions.skippedLarge != skippedFiles_) {
        std::string names;
        for (const std::string& path : exclusions.skippedLarge) names += (names.empty() ? "" : ", ") + path;
        Log::write("Skipping files over 95 MB: " + names);
    }
    skippedFiles_ = exclusions.skippedLarge;

    std::vector<std::string> add{"add", "-A", "--", "."};
    for (const std::string& path : exclusions.excludes) add.push_back(":(exclude,literal)" + path);
    // Temporary files of an interrupted atomic write are never the user's.
    add.push_back(":(exclude,glob)**/.brindle-tmp-*");
    required(add);
    guardLocalDeletions();
    if (succeeds({"diff", "--cached", "--quiet"})) return;

    std::vector<Record> records = parseRecords(required({"diff", "--cached", "--name-status", "-z"}).nulFields());
    long long added = 0, changed = 0, removed = 0;
    for (const Record& record : records) {
        if (record.status[0] == 'A')
            ++added;
        else if (record.status[0] == 'D')
            ++removed;
        else
            ++changed;
    }
    for (const Record& record : records) {
        if (events_.size() >= kMaxHeldEvents) break;
        if (record.status[0] == 'D')
            emit("deleted", record.path, 0);
        else
            emit("uploaded", record.path, fileSize(folder_ / record.path));
    }
    std::string summary;
    for (const auto& [count, word] : {std::pair{added, "added"}, {changed, "changed"}, {removed, "removed"}}) {
        if (count > 0) summary += (summary.empty() ? "" : ", ") + std::to_string(count) + " " + word;
    }
    required({"commit", "-q", "--no-verify", "-m", deviceName_ + ": " + summary});
    Log::write("Committed local changes: " + summary);
}

void Syncer::emitDiff(const std::string& before, const std::string& after) {
    try {
        GitResult diff = git_.run({"diff", "--name-status", "-z", before, after});
        if (diff.status != 0) return;
        std::vector<Record> records = parseRecords(diff.nulFields());
        // Blob sizes at the new remote commit, read in one listing rather
        // than one git command per file.
        std::map<std::string, long long> sizes;
        bool needSizes = false;
        for (const Record& record : records) needSizes = needSizes || record.status[0] != 'D';
        if (needSizes) {
            GitResult tree = git_.run({"ls-tree", "-r", "-l", "-z", after});
            if (tree.status == 0) sizes = treeSizes(tree.nulFields());
        }
        for (const Record& record : records) {
            if (record.status[0] == 'D')
                emit("deleted", record.path, 0);
            else
                emit("downloaded", record.path, sizes.count(record.path) ? sizes[record.path] : 0);
        }
    } catch (const std::exception&) {
        // Events are a report; a failure here never fails the pass.
    }
}

std::optional<Syncer::Totals> Syncer::totals() const {
    try {
        GitResult tree = git_.run({"ls-tree", "-r", "-l", "-z", "HEAD"});
        if (tree.status != 0) return std::nullopt;
        Totals totals;
        for (const auto& [path, size] : treeSizes(tree.nulFields())) {
            ++totals.files;
            totals.bytes += size;
        }
        return totals;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace brindle
