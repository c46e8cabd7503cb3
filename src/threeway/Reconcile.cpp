#include "threeway/Reconcile.h"

namespace brindle {

namespace {

using Kind = SyncAction::Kind;

SyncAction make(Kind kind, const std::string& key, const Local* local, const ContentHash* localHash,
                const RemoteFile* remote) {
    SyncAction action;
    action.kind = kind;
    action.key = key;
    if (local) action.local = *local;
    if (remote) action.remote = *remote;
    if (localHash) action.localHash = *localHash;
    switch (kind) {
        case Kind::removeRemote:
        case Kind::removeLocal:
            action.group = 0;
            action.order = 0;
            break;
        case Kind::upload:
            action.order = -static_cast<double>(local->mtimeNs) / 1e9;
            break;
        case Kind::download:
        case Kind::conflict:
            action.order = -remote->modified;
            break;
    }
    return action;
}

// Two absent values are equal; an absent value differs from a present one.
bool same(const ContentHash* a, const ContentHash* b) {
    if (!a || !b) return !a && !b;
    return *a == *b;
}

}  // namespace

SyncDecision reconcileKey(const std::string& key, const Local* local, const ContentHash* localHash,
                          const SyncBase* base, const RemoteFile* remote, bool localGone, bool remoteGone,
                          const std::string& name) {
    SyncDecision decision;
    if (!local && !remote) {
        if (base) decision.baseChange = SyncDecision::BaseChange::remove;
        return decision;
    }
    const ContentHash* lh = local ? localHash : nullptr;
    const ContentHash* bh = base ? &base->hash : nullptr;
    const ContentHash* rh = remote ? &remote->hash : nullptr;
    if (local && remote && same(lh, rh)) {
        decision.baseChange = SyncDecision::BaseChange::adopt;
        return decision;
    }
    // A vanished folder or an emptied store never propagates as deletions.
    if (localGone && !local) {
        decision.action = make(Kind::download, key, local, lh, remote);
        return decision;
    }
    if (remoteGone && local && !remote) {
        decision.action = make(Kind::upload, key, local, lh, remote);
        return decision;
    }

    bool localSame = same(lh, bh), remoteSame = same(rh, bh);
    if (local && remote) {
        if (base && localSame)
            decision.action = make(Kind::download, key, local, lh, remote);
        else if (base && remoteSame)
            decision.action = make(Kind::upload, key, local, lh, remote);
        else
            decision.action = make(Kind::conflict, key, local, lh, remote);
    } else if (local) {
        if (!base) {
            decision.action = make(Kind::upload, key, local, lh, nullptr);
        } else if (localSame) {
            decision.action = make(Kind::removeLocal, key, local, lh, nullptr);
        } else {
            decision.logLine = local->path + " was edited here but deleted in " + name + "; keeping the file";
            decision.action = make(Kind::upload, key, local, lh, nullptr);
        }
    } else {
        if (!base) {
            decision.action = make(Kind::download, key, local, lh, remote);
        } else if (remoteSame) {
            decision.action = make(Kind::removeRemote, key, local, lh, remote);
        } else {
            decision.logLine = remote->path + " was deleted here but edited in " + name + "; keeping the file";
            decision.action = make(Kind::download, key, local, lh, remote);
        }
    }
    return decision;
}

bool runsBefore(const SyncAction& a, const SyncAction& b) {
    if (a.group != b.group) return a.group < b.group;
    if (a.order != b.order) return a.order < b.order;
    return a.key < b.key;
}

}  // namespace brindle
