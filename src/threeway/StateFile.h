#pragma once

#include "threeway/SyncState.h"

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>

namespace brindle {

// A reconciler's state file with a journal beside it (the file's name +
// "-journal"): a pass that changed a few records of a large state appends
// those records to the journal instead of writing the whole state again.
// Loading reads the state file and then every sound journal entry made
// against that very file (same device, inode, size and modification time);
// a journal left over from an earlier state file, or a damaged or half-written
// entry and all after it, is ignored. Ignoring entries only makes the state
// older, which the reconciler handles like a pass that was never saved.
// The journal is folded into a new state file once it has grown to half the
// state's size. One object per state file and process; not thread-safe.
class StateFile {
public:
    explicit StateFile(std::filesystem::path file);

    const std::filesystem::path& journal() const { return journal_; }

    // The state with its journal applied, or nothing when the state file is
    // missing or undecodable.
    std::optional<SyncState> load();
    // Writes the whole state atomically and removes the journal. Throws
    // brindle::Error with the system's message.
    void saveAll(const SyncState& state);
    // Appends the cursor and the records under keys (or that they are gone)
    // and makes them durable. Returns false, having written nothing, when
    // the whole state must be written instead: nothing was loaded or saved
    // through this object, the state file changed since, or the journal is
    // full. Throws brindle::Error when the journal cannot be written.
    bool saveChanges(const SyncState& state, const std::set<std::string>& keys);
    // Whether the state file and the journal are just as this object last
    // loaded or wrote them (another process may have written either).
    bool unchanged() const;

private:
    struct Stamp {
        dev_t device = 0;
        ino_t inode = 0;
        int64_t size = 0;
        int64_t mtimeNs = 0;

        bool operator==(const Stamp&) const = default;
    };
    static std::optional<Stamp> stampOf(const std::filesystem::path& file);
    std::string header() const;
    void applyJournal(SyncState& state);

    std::filesystem::path file_;
    std::filesystem::path journal_;
    std::optional<Stamp> main_;     // the state file as last loaded or written
    std::optional<Stamp> written_;  // the journal as last loaded or written; none when it is not ours
    int64_t journalBytes_ = 0;      // the sound part of the journal
};

}  // namespace brindle
