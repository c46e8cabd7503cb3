#pragma once

#include "threeway/RemoteStore.h"
#include "threeway/SyncState.h"

#include <optional>
#include <string>

namespace brindle {

// One thing to do for one key. group 0 (deletions) runs first, one at a time,
// on the syncing thread; group 1 (transfers and conflicts) runs on the
// workers. Inside a group actions run by order (the newest file first for
// transfers), then by key.
struct SyncAction {
    enum class Kind {
        download,      // remote over the local file (or a new local file)
        upload,        // local to the store: over remote->rev when remote is set, else as a new file
        conflict,      // keep both: the remote version goes beside the local file
        removeRemote,  // deleted here, delete in the store
        removeLocal,   // deleted in the store, delete here
    };
    Kind kind = Kind::download;
    int group = 1;
    double order = 0;
    std::string key;
    std::optional<Local> local;
    std::optional<RemoteFile> remote;
    ContentHash localHash;  // content hash of local, for uploads

    bool operator==(const SyncAction&) const = default;
};

// What the three-way comparison of one key decided. Nothing here touches a
// file or the state: the syncer applies the base change, writes the log line
// and runs the action.
struct SyncDecision {
    enum class BaseChange {
        none,
        remove,  // the file is gone on both sides
        adopt,   // both sides hold the same content: record it as the base
    };
    BaseChange baseChange = BaseChange::none;
    std::optional<SyncAction> action;
    std::string logLine;  // written while deciding; empty for none
};

// The decision for one key from its local snapshot (with its hash), base and
// remote record, each possibly absent. localGone holds for a pass in which
// the folder vanished (never empty the store for that), remoteGone for one in
// which the store came back empty (never empty the folder for that). name is
// the store's name for log lines.
SyncDecision reconcileKey(const std::string& key, const Local* local, const ContentHash* localHash,
                          const SyncBase* base, const RemoteFile* remote, bool localGone, bool remoteGone,
                          const std::string& name);

// The order in which actions run: group, then order, then key.
bool runsBefore(const SyncAction& a, const SyncAction& b);

}  // namespace brindle
