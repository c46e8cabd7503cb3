// Recovery at the start of a pass from whatever an interrupted earlier pass
// (a crash, a kill, a power cut) or a person poking at the repository left
// behind, so that the usual steps never wedge on it and never commit the
// debris of a half-done merge.
#include <openssl/evp.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <set>
#include <thread>

#include "common/Files.h"
#include "common/Log.h"
#include "common/Text.h"
#include "git/Syncer.h"
#include "git/SyncerSupport.h"

namespace brindle {

namespace fs = std::filesystem;
using namespace SyncerSupport;

namespace {

constexpr const char* kNoObject = "0000000000000000000000000000000000000000";
constexpr auto kOrphanPatience = std::chrono::seconds(60);

bool present(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// git's lock files: "*.lock" at the top of the repository directory and
// anywhere below refs/.
std::vector<fs::path> lockFiles(const fs::path& gitDir) {
    std::vector<fs::path> locks;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(gitDir, ec))
        if (Text::endsWith(entry.path().filename().string(), ".lock")) locks.push_back(entry.path());
    for (auto it = fs::recursive_directory_iterator(gitDir / "refs", ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (Text::endsWith(it->path().filename().string(), ".lock")) locks.push_back(it->path());
    return locks;
}

// True while a process other than this one was started with GIT_DIR set to
// gitDir: a git that an interrupted pass started and that still runs.
bool gitStillRunning(const std::string& gitDir) {
    const std::string wanted = "GIT_DIR=" + gitDir;
    const std::string self = std::to_string(::getpid());
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        std::string pid = entry.path().filename().string();
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self) continue;
        std::optional<std::string> environ = Files::read(entry.path() / "environ");
        if (!environ) continue;
        for (const std::string& variable : Text::split(*environ, '\0'))
            if (variable == wanted) return true;
    }
    return false;
}

// git's object id of bytes stored as a blob.
std::string blobId(const std::string& bytes) {
    std::string framed = "blob " + std::to_string(bytes.size()) + std::string(1, '\0') + bytes;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(framed.data(), framed.size(), digest, &length, EVP_sha1(), nullptr);
    static const char* hex = "0123456789abcdef";
    std::string id;
    for (unsigned int i = 0; i < length; ++i) {
        id += hex[digest[i] >> 4];
        id += hex[digest[i] & 15];
    }
    return id;
}

bool hasConflictMarkers(const std::string& bytes) {
    return Text::startsWith(bytes, "<<<<<<< ") || bytes.find("\n<<<<<<< ") != std::string::npos;
}

// One path that an interrupted step may have rewritten: its blob before
// (ours) and in the commit brought in (theirs); kNoObject when absent.
struct Change {
    std::string path;
    std::string ours;
    std::string theirs;
    bool plainFiles = true;  // neither side is a link or a submodule
};

std::vector<Change> parseRawDiff(const std::vector<std::string>& fields) {
    std::vector<Change> changes;
    for (size_t i = 0; i + 1 < fields.size(); i += 2) {
        std::vector<std::string> pieces = Text::split(fields[i], ' ');
        if (pieces.size() < 5) continue;
        bool plain = Text::startsWith(pieces[0], ":100") && Text::startsWith(pieces[1], "100");
        plain = plain || ((pieces[0] == ":000000" || Text::startsWith(pieces[0], ":100")) &&
                          (pieces[1] == "000000" || Text::startsWith(pieces[1], "100")));
        changes.push_back({fields[i + 1], pieces[2], pieces[3], plain});
    }
    return changes;
}

// The paths a step from start that brings in target may have written: those
// the other side changed since the common base (everything when there is
// none), with their blobs at start and at target.
std::vector<Change> changedPaths(const Git& git, const std::string& start, const std::string& target) {
    auto rawDiff = [&git](const std::string& from, const std::string& to) {
        GitResult diff = git.run({"diff", "--raw", "-z", "--no-renames", "--no-abbrev", from, to});
        return diff.status == 0 ? parseRawDiff(diff.nulFields()) : std::vector<Change>{};
    };
    std::string base = kEmptyTree;
    if (start != kEmptyTree) {
        GitResult found = git.run({"merge-base", start, target});
        if (found.status == 0 && !found.text().empty()) base = found.text();
    }
    std::set<std::string> theirs;
    for (const Change& change : rawDiff(base, target)) theirs.insert(change.path);
    std::vector<Change> changes;
    for (Change& change : rawDiff(start, target))
        if (theirs.count(change.path)) changes.push_back(std::move(change));
    return changes;
}

// What to do with one path that an interrupted step may have written.
enum class Verdict { keep, restore, remove };

// True when bytes are a cut-short copy of the blob (a write that stopped).
bool truncatedFrom(const Git& git, const std::string& bytes, const std::string& blob) {
    if (blob == kNoObject) return false;
    std::string whole = git.run({"cat-file", "blob", blob}).out;
    return bytes.size() < whole.size() && whole.compare(0, bytes.size(), bytes) == 0;
}

// The step wrote a file when it holds the other side's version, conflict
// markers, or a cut-short copy of either version; anything else was written
// by someone else since and is kept.
Verdict judge(const Git& git, const fs::path& file, const Change& change) {
    if (!change.plainFiles) return Verdict::keep;
    std::error_code ec;
    auto status = fs::symlink_status(file, ec);
    if (!fs::exists(status)) return change.ours != kNoObject ? Verdict::restore : Verdict::keep;
    if (!fs::is_regular_file(status)) return Verdict::keep;
    std::string bytes = Files::read(file).value_or("");
    std::string id = blobId(bytes);
    if (id == change.ours) return Verdict::keep;
    bool stepWroteIt = id == change.theirs || hasConflictMarkers(bytes) || truncatedFrom(git, bytes, change.theirs) ||
                       truncatedFrom(git, bytes, change.ours);
    if (!stepWroteIt) return Verdict::keep;
    return change.ours == kNoObject ? Verdict::remove : Verdict::restore;
}

// Conflict copies written before the interruption (pairs of path and copy)
// are made again by the merge that follows: drop those still holding what
// was written, or part of it.
void removeRemadeCopies(const Git& git, const fs::path& folder, const std::vector<std::string>& copies,
                        const std::map<std::string, std::string>& theirsOf) {
    for (size_t i = 0; i + 1 < copies.size(); i += 2) {
        auto theirs = theirsOf.find(copies[i]);
        std::optional<std::string> bytes = Files::read(folder / copies[i + 1]);
        if (!bytes || theirs == theirsOf.end() || theirs->second == kNoObject) continue;
        bool remade = blobId(*bytes) == theirs->second || truncatedFrom(git, *bytes, theirs->second);
        std::error_code ec;
        if (remade) fs::remove(folder / copies[i + 1], ec);
    }
}

void clearMergeState(const Git& git) {
    if (present(git.gitDir() / "MERGE_HEAD")) git.run({"merge", "--quit"});
    for (const char* name : {"MERGE_HEAD", "MERGE_MSG", "MERGE_MODE", "AUTO_MERGE"}) {
        std::error_code ec;
        fs::remove(git.gitDir() / name, ec);
    }
}

}  // namespace

void Syncer::recordOperation(const Operation& operation) const {
    std::string text = operation.kind + '\0' + operation.start + '\0' + operation.target;
    for (const std::string& copy : operation.copies) text += '\0' + copy;
    Files::writeAtomically(git_.gitDir() / kOperationName, text, 0600);
}

void Syncer::clearOperation() const {
    std::error_code ec;
    fs::remove(git_.gitDir() / kOperationName, ec);
}

std::optional<Syncer::Operation> Syncer::readOperation() const {
    std::optional<std::string> text = Files::read(git_.gitDir() / kOperationName);
    if (!text) return std::nullopt;
    std::vector<std::string> fields = Text::split(*text, '\0');
    if (fields.size() < 3) return std::nullopt;
    Operation operation{fields[0], fields[1], fields[2], {}};
    operation.copies.assign(fields.begin() + 3, fields.end());
    if (operation.copies.size() % 2) operation.copies.pop_back();
    return operation;
}

void Syncer::recoverInterruptedWork() {
    clearStaleLocks();
    leaveForeignStates();
    std::optional<Operation> operation = readOperation();
    const fs::path mergeHead = git_.gitDir() / "MERGE_HEAD";
    if (!operation && present(mergeHead)) {
        // A merge left half-done without our note of it.
        std::string target = Text::trim(Files::read(mergeHead).value_or(""));
        operation = Operation{"merge", resolve("HEAD").value_or(kEmptyTree), target, {}};
    }
    if (operation) rollBack(*operation);
}

void Syncer::clearStaleLocks() const {
    std::vector<fs::path> locks = lockFiles(git_.gitDir());
    if (locks.empty()) return;
    // A git started by an interrupted pass may still be finishing its work
    // (the lock is then not stale): give it time to end first.
    auto deadline = std::chrono::steady_clock::now() + kOrphanPatience;
    while (gitStillRunning(git_.gitDir().string())) {
        if (std::chrono::steady_clock::now() > deadline)
            throw Error("git is still busy with " + git_.gitDir().string() + " from an earlier sync; will retry.");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (const fs::path& lock : locks) {
        std::error_code ec;
        if (fs::remove(lock, ec))
            Log::write("Removed stale git lock " + relativePath(git_.gitDir(), lock) + " left by an interrupted sync");
    }
}

void Syncer::leaveForeignStates() {
    const fs::path dir = git_.gitDir();
    bool changed = false;
    // Sequences we never start (a rebase, a cherry-pick) are dropped without
    // touching the files; what they changed is committed as a local change.
    const std::vector<std::pair<const char*, std::vector<std::string>>> sequences{
        {"rebase-merge", {"rebase", "--quit"}},
        {"rebase-apply", {"rebase", "--quit"}},
        {"CHERRY_PICK_HEAD", {"cherry-pick", "--quit"}},
        {"REVERT_HEAD", {"revert", "--quit"}}};
    for (const auto& [marker, quit] : sequences) {
        if (!present(dir / marker)) continue;
        git_.run(quit);
        std::error_code ec;
        fs::remove_all(dir / marker, ec);
        changed = true;
    }
    std::string head = Text::trim(Files::read(dir / "HEAD").value_or(""));
    if (!head.empty() && head != "ref: refs/heads/main") {
        // Back onto the one branch we sync, keeping the files as they are.
        if (!resolve("refs/heads/main") && resolve("HEAD")) required({"update-ref", "refs/heads/main", "HEAD"});
        required({"symbolic-ref", "HEAD", "refs/heads/main"});
        changed = true;
    }
    if (changed) {
        if (resolve("HEAD")) required({"reset", "-q"});
        Log::write("Left an unfinished git operation in " + dir.string() + "; local files kept");
    }
}

void Syncer::rollBack(const Operation& operation) {
    std::optional<std::string> head = resolve("HEAD");
    if (operation.kind == "restore") {
        if (head) required({"reset", "-q", "--hard", "HEAD"});
        clearOperation();
        Log::write("Folder was missing; restored contents from last sync");
        return;
    }
    if (head && *head != operation.start && succeeds({"merge-base", "--is-ancestor", operation.target, "HEAD"})) {
        // The step got as far as its commit; only its leftovers remain.
        clearMergeState(git_);
        clearOperation();
        return;
    }
    // Put every file the step may have rewritten back as it was before, unless
    // it holds something the step cannot have written (a change made since).
    std::map<std::string, std::string> theirsOf;
    std::vector<std::string> restore;
    for (const Change& change : changedPaths(git_, operation.start, operation.target)) {
        theirsOf[change.path] = change.theirs;
        Verdict verdict = judge(git_, folder_ / change.path, change);
        if (verdict == Verdict::restore) restore.push_back(change.path);
        if (verdict == Verdict::remove) {
            std::error_code ec;
            fs::remove(folder_ / change.path, ec);
        }
    }
    removeRemadeCopies(git_, folder_, operation.copies, theirsOf);
    for (size_t i = 0; i < restore.size(); i += 500) {
        std::vector<std::string> args{"checkout", "-q", operation.start, "--"};
        for (size_t j = i; j < restore.size() && j < i + 500; ++j) args.push_back(":(literal)" + restore[j]);
        required(args);
    }
    clearMergeState(git_);
    if (head)
        required({"reset", "-q"});
    else
        required({"read-tree", "--empty"});
    clearOperation();
    Log::write("Rolled back an interrupted " + operation.kind + "; it is done again now");
}

}  // namespace brindle
