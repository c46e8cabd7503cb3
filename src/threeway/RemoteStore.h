#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "threeway/ContentHash.h"

#include <nlohmann/json_fwd.hpp>
#include <utility>

namespace brindle {

// One file as a remote store describes it. hash is lower-case hex of the
// content hash, or empty when the store gives none (then nothing is checked
// against it); rev is passed back on overwrite and delete.
struct RemoteFile {
    std::string path;  // display path, "/" separators, no leading "/"
    ContentHash hash;
    std::string rev;
    int64_t size = 0;
    double modified = 0;  // seconds since 1970 UTC

    bool operator==(const RemoteFile&) const = default;
};

// JSON keys "path", "hash", "rev", "size", "modified"; "modified" may be
// absent when decoding (reads as 0), the others are required (from_json
// throws nlohmann::json::exception when one is missing).
void to_json(nlohmann::json& json, const RemoteFile& file);
void from_json(const nlohmann::json& json, RemoteFile& file);

// One item of a listing or change feed. file is absent for deletions and for
// folders. A deleted key that names a folder removes everything under it.
struct RemoteEntry {
    bool deleted = false;
    std::string key;
    std::optional<RemoteFile> file;
};

// Files a store holds but cannot list as entries: (readable path, reason).
using Unsyncable = std::vector<std::pair<std::string, std::string>>;

struct RemoteListing {
    std::vector<RemoteEntry> entries;
    std::string cursor;
    Unsyncable unsyncable;
};

// The reconciler's snapshot of one local regular file.
struct Local {
    std::string path;     // display path relative to the folder
    int64_t size = 0;     // st_size of lstat
    int64_t mtimeNs = 0;  // st_mtim in nanoseconds since 1970

    bool operator==(const Local&) const = default;
};

// The key of a display path: Unicode NFC, then lower-cased. Two names that
// differ only by letter case or by composition share one key.
std::string pathKey(std::string_view displayPath);

// A remote file store as the reconciler sees it: the Dropbox client and the
// drive store. Implementations are shared by the reconciler and its worker
// threads, so every operation must be safe to call concurrently. Every
// failure is thrown as an exception whose what() is readable text;
// DropboxFailure::reset() from listChanges means "list everything again".
class RemoteStore {
public:
    virtual ~RemoteStore() = default;

    // An identifier of the remote account or location.
    virtual std::string account() = 0;
    // Every file in the store and a cursor for later change listings.
    virtual RemoteListing listAll() = 0;
    // The same listing handed to each one entry at a time (each may take
    // what the entry holds), so that a large store need never be held whole
    // beside what the caller keeps of it. Nothing is handed on before the
    // whole store has been read: a failure throws before the first entry.
    // Returns the cursor. By default, listAll's entries in turn.
    virtual std::string streamAll(const std::function<void(RemoteEntry&)>& each, Unsyncable& unsyncable);
    // What changed since cursor, in the store's order, and the next cursor.
    virtual RemoteListing listChanges(const std::string& cursor) = 0;
    // Whether listChanges is cheaper than listAll. A store that can only
    // list everything is not listed again to confirm the reconciler's own
    // actions: their results are what it recorded.
    virtual bool listsChanges() const { return true; }
    // Writes the content of the remote file at path to the local file `to`.
    virtual void download(const std::string& path, const std::filesystem::path& to) = 0;
    // Stores the content of from at path: as a new file without updateRev,
    // else replacing the version with that revision. Returns what is stored.
    virtual RemoteFile upload(const std::string& path, const std::filesystem::path& from,
                              const std::optional<std::string>& updateRev) = 0;
    // Whether upload's record carries the hash of what was stored, taken
    // from a copy of a file that did not change while it was copied
    // (upload throws StaleAction when it did). A new file is then hashed by
    // the upload alone, not read once more before it.
    virtual bool hashesUploads() const { return false; }
    // Deletes the file at path; rev names the version the caller expects.
    virtual void remove(const std::string& path, const std::optional<std::string>& rev) = 0;
};

}  // namespace brindle
