#pragma once

#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/DeletionGuard.h"
#include "common/DeletionsHeld.h"
#include "common/SyncEvent.h"
#include "git/Git.h"

namespace brindle {

// Keeps a folder in step with one git remote ("origin", branch "main") by
// driving git. One sync() is one whole pass: make sure the repository exists
// and is configured, recover from an interrupted earlier pass, commit what
// changed in the folder under this computer's name, fetch, merge what other
// computers pushed (conflicts never stop the pass; the other side's version of
// a file changed on both sides is kept as a conflict copy), and push,
// retrying against concurrent pushes.
//
// Ownership and threads: the sync engine creates and caches one Syncer; every
// call runs on the engine's sync queue, never on two threads at once. The
// Syncer owns its Git; the engine sets the access token before each pass with
// git().setToken(token) (it then reaches git only through the environment).
//
// Several processes (the tray app and a command-line pass) may share one
// repository directory: a pass holds an exclusive lock on it, and a second
// pass waits for the first to finish.
class Syncer {
public:
    // Files bigger than this (95 MB) are never committed.
    static constexpr long long kLargeFileLimit = 95LL * 1024 * 1024;

    struct Totals {
        long long files = 0;
        long long bytes = 0;
    };

    struct Exclusions {
        std::vector<std::string> excludes;      // folder-relative paths kept out of staging
        std::vector<std::string> skippedLarge;  // those of them left out for size
    };

    // No I/O. folder is the work tree; git's work tree must be the same folder.
    Syncer(std::filesystem::path folder, Git git, std::string remoteURL, std::string deviceName);

    // One pass. Throws GitError when a git command fails, GitHubError
    // ("Could not push after several attempts; will retry.") after four
    // rejected pushes, brindle::Error for file-system failures and when git
    // cannot be started. events() is reset at the start and afterwards holds
    // what this pass did up to its end or its failure; what was committed
    // locally stays committed and is pushed by a later pass. Blocks while
    // another process runs a pass on the same repository directory, and for
    // up to a minute while a git left running by an interrupted pass ends.
    // Runs the fetch on a second thread of its own while it commits.
    //
    // A pass that would delete more files than DeletionGuard allows (removed
    // from the folder, or by the merge of what the remote removed) leaves
    // those deletions out (the local ones stay uncommitted, the remote's are
    // not merged, so nothing is pushed), does the rest and throws
    // DeletionsHeld, unless the answer recorded for kGuardName in the folder
    // above the repository directory says otherwise (taken by this pass).
    // The folder's ignore rules reach git through the repository's exclude file.
    void sync();

    // The store name the deletion guard's answers are recorded under.
    static constexpr const char* kGuardName = "GitHub";

    // What sync() would do, changing nothing, sorted: "upload PATH" and
    // "delete in GitHub PATH" for the folder's changes, "download PATH" and
    // "delete here PATH" for what the last fetch brought and is not merged
    // yet (a preview does not fetch).
    std::vector<std::string> preview() const;

    // Number and total size of the files in the last local commit; nothing
    // when there is no commit or git fails.
    std::optional<Totals> totals() const;

    // The events of the last pass (at most kMaxHeldEvents; later ones are
    // dropped). takeEvents() hands them over and leaves the list empty.
    const std::vector<SyncEvent>& events() const { return events_; }
    std::vector<SyncEvent> takeEvents() { return std::exchange(events_, {}); }

    // Folder-relative paths left out for size on the last pass.
    const std::vector<std::string>& skippedFiles() const { return skippedFiles_; }

    Git& git() { return git_; }
    const Git& git() const { return git_; }
    const std::filesystem::path& folder() const { return folder_; }
    const std::string& remoteURL() const { return remoteURL_; }
    const std::string& deviceName() const { return deviceName_; }

    // The clock that stamps conflict copies (seconds since 1970); tests fix it.
    void setClock(std::function<std::time_t()> clock) { clock_ = std::move(clock); }

    // The steps of a pass, in the order sync() runs them; public so that each
    // can be exercised on its own.
    void prepare();
    void writeExcludeFile();
    Exclusions scanForExclusions() const;
    void commitLocalChanges();
    void emitDiff(const std::string& before, const std::string& after);
    // Merges ref into the current branch and commits, settling every conflict
    // by fixed rules; throws when that fails.
    void merge(const std::string& ref);
    // A folder-relative path for the other side's version of path that does
    // not exist yet: "plan (conflict from DEVICE STAMP).md", then " 2", " 3".
    std::string conflictCopyPath(const std::string& path, const std::string& device, const std::string& stamp) const;

private:
    // Runs args and throws GitError unless it succeeds.
    GitResult required(const std::vector<std::string>& args) const;
    // True when args exits with status 0 (a probe; never throws on failure).
    bool succeeds(const std::vector<std::string>& args) const;
    // The commit a revision names, or nothing when it does not exist.
    std::optional<std::string> resolve(const std::string& revision) const;
    void emit(const std::string& kind, const std::string& path, long long bytes);
    // remote: where the remote branch stands after the fetch.
    void pushLoop(std::optional<std::string> remote);
    void adoptRemote(const std::string& remoteTip);
    // Before the folder takes the remote's tree: moves every local file or
    // folder that the tree would replace (a different file at one of its
    // paths, a file where it has a folder) aside as a conflict copy named for
    // this computer. Throws brindle::Error when one cannot be moved.
    void keepLocalFilesInTheWay();
    // True when nothing is at the folder-relative path, or a regular file
    // holding exactly blob (of the given size, as git lists it).
    bool holdsBlob(const std::string& path, const std::string& blob, const std::string& size) const;
    void moveAside(const std::string& path, const std::string& stamp);
    void resolveConflicts(const std::string& ref, const std::vector<std::string>& conflicted);
    void configureNewRepository();
    bool folderIsCaseInsensitive() const;

    // The deletion guard (SyncerGuard.cpp).
    long long knownFiles() const;  // files in HEAD
    // Notes and logs a held deletion when gone of known needs an answer and
    // none was given; returns whether it did.
    bool holdDeletions(DeletionsHeld::Side side, long long gone, long long known);
    // After staging: unstages (or restores) too many deletions.
    void guardLocalDeletions();
    std::vector<std::string> remoteDeletions(const std::string& ref) const;
    // Merges ref unless that would delete too many files; returns whether it did.
    bool mergeGuarded(const std::string& ref);
    // The folder's changes against the last commit, as git sees them with
    // the ignore rules as they are now: (path, whether it is gone).
    std::vector<std::pair<std::string, bool>> localChanges() const;

    // Crash recovery (SyncerRecovery.cpp). Before a step that rewrites files
    // in the folder (merge, adopting the remote, restoring a deleted folder)
    // the syncer notes it in a file of its own inside the repository
    // directory; a pass that finds the note finishes or rolls back that step.
    struct Operation {
        std::string kind;                 // "merge", "adopt" or "restore"
        std::string start;                // HEAD before the step (git's empty tree when none)
        std::string target;               // the commit it brings in
        std::vector<std::string> copies;  // pairs: conflicted path, its conflict copy
    };
    void recoverInterruptedWork();
    void clearStaleLocks() const;
    void leaveForeignStates();
    void rollBack(const Operation& operation);
    std::optional<Operation> readOperation() const;
    void recordOperation(const Operation& operation) const;
    void clearOperation() const;

    std::filesystem::path folder_;
    Git git_;
    std::string remoteURL_;
    std::string deviceName_;
    std::vector<std::string> skippedFiles_;
    std::vector<SyncEvent> events_;
    std::function<std::time_t()> clock_;
    DeletionGuard::Answer deletionAnswer_ = DeletionGuard::Answer::none;  // for this pass
    std::vector<DeletionsHeld> held_;                                     // deletions held in this pass
};

}  // namespace brindle
