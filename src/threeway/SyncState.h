#pragma once

#include "threeway/JournaledFile.h"
#include "threeway/RemoteStore.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace brindle {

// The version of one file that both sides last held. size and mtimeNs
// describe the local file when recorded, so a later scan can skip rehashing
// an untouched file; mtimeNs 0 forces a rehash (a conflict resolution writes
// it).
struct SyncBase {
    std::string path;  // display path relative to the folder
    ContentHash hash;
    std::string rev;
    int64_t size = 0;
    int64_t mtimeNs = 0;

    bool operator==(const SyncBase&) const = default;
};

// The reconciler's persistent state for one store: the account it belongs
// to, the change cursor, the last known listing and the bases, each map by
// path key. Stored as one compact JSON object
// {"account":..,"cursor":..,"remote":{key:RemoteFile},"base":{key:SyncBase}};
// "cursor" is left out when absent, the other three are required.
struct SyncState {
    std::string account;
    std::optional<std::string> cursor;
    std::map<std::string, RemoteFile> remote;
    std::map<std::string, SyncBase> base;

    bool operator==(const SyncState&) const = default;

    // The state held in bytes, or nothing when they do not decode (not JSON,
    // a required key missing, a field of the wrong type).
    static std::optional<SyncState> decode(std::string_view bytes);
    std::string encode() const;
    // The same text in pieces: appended to out, with pieces() called after
    // every record (it may write out and clear what out holds).
    void encode(std::string& out, const std::function<void(std::string&)>& pieces) const;
    // What changed under keys, as one object in the same form: the cursor,
    // and each key's remote and base record or null where it has none.
    std::string encodeChanges(const std::set<std::string>& keys) const;
    // Applies such an object; false (the state may then be partly changed)
    // when it does not decode.
    bool applyChanges(std::string_view bytes);

    // The state in file with the changes its journal holds, or nothing when
    // the file is missing or undecodable.
    static std::optional<SyncState> load(JournaledFile& file);
    static std::optional<SyncState> load(const std::filesystem::path& file);
    // Creates the parent folders and writes the file atomically (temporary
    // file, fsync, rename); the journal starts over. Throws brindle::Error
    // with the system's message.
    void save(JournaledFile& file) const;
    void save(const std::filesystem::path& file) const;
    // Appends the records under keys to the file's journal; false when the
    // whole state must be saved instead.
    bool saveChanges(JournaledFile& file, const std::set<std::string>& keys) const;
    // The records under changedKeys appended when they are few, else the
    // whole state written (JournaledFile::save).
    void save(JournaledFile& file, const std::set<std::string>& changedKeys) const;
};

}  // namespace brindle
