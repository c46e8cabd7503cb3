#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "threeway/ContentHash.h"

namespace brindle::RecordJSON {

// The state file and the drive hash cache hold up to hundreds of thousands of
// small flat records. They are read with a streaming parser straight into
// records and written by hand, so a large folder never builds a JSON tree in
// memory (which would cost several times the file's size).

// One flat record: the fields that were present are flagged in `present`.
struct Record {
    enum Field : unsigned { kPath = 1, kHash = 2, kRev = 4, kSize = 8, kMtimeNs = 16, kModified = 32 };
    std::string path, rev;
    ContentHash hash;
    int64_t size = 0;
    int64_t mtimeNs = 0;
    double modified = 0;
    unsigned present = 0;

    bool has(unsigned fields) const { return (present & fields) == fields; }
};

struct Reader {
    // A string value at the top level ("account", "cursor").
    std::function<void(const std::string& key, const std::string& value)> topString;
    // A record inside the object `section` under `key`; section is empty when
    // the records sit directly in the top-level object. Returning false
    // rejects the whole document.
    // The callback may take key over (move from it).
    std::function<bool(const std::string& section, std::string& key, Record&& record)> record;
    // null where a record belongs: the record under key is gone (a journal
    // entry says so). Without this callback such a null is skipped.
    std::function<void(const std::string& section, const std::string& key)> removed;
    // true: top-level keys name objects of records ("remote": {key: record});
    // false: the top-level object itself maps keys to records.
    bool sectioned = true;
    // Called before the document is read again from the start (the quick
    // reader hands anything unusual to a full JSON parser): forget what the
    // callbacks were given so far.
    std::function<void()> restart;
};

// Parses bytes as one JSON object. Returns the top-level keys whose values
// are objects (for a sectioned reader; empty otherwise), or nothing when the text is not JSON, a known field has the
// wrong type, or a callback rejected a record.
std::optional<std::vector<std::string>> parse(std::string_view bytes, const Reader& reader);

// The bytes of a whole file, mapped read-only rather than copied (state files
// of large folders run to tens of megabytes). Empty when it cannot be read.
// While it lives, parse() on the same thread lets go of the pages of it that
// it has read, so the file is never resident whole.
class MappedFile {
public:
    explicit MappedFile(const std::string& path);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    bool readable() const { return readable_; }
    std::string_view bytes() const { return {data_, size_}; }
    // Whether bytes lie within the mapping.
    bool holds(std::string_view bytes) const;
    // Drops the whole pages before upTo from memory (they are read from the
    // file again if touched); returns upTo.
    const char* release(const char* upTo) const;

private:
    const char* data_ = nullptr;
    size_t size_ = 0;
    mutable const char* released_ = nullptr;  // pages before it were let go
    bool mapped_ = false;
    bool readable_ = false;
};

// Begins the member key of an object of records: a comma before all but
// the first, the key and a colon, then null when the record is gone (not
// present); the caller appends a present record.
void appendMember(std::string& out, bool& first, std::string_view key, bool present);

// Appends text as a JSON string literal. Text must be valid UTF-8.
void appendString(std::string& out, std::string_view text);
// Appends an integer or a double (shortest form that reads back the same).
void appendNumber(std::string& out, int64_t value);
void appendNumber(std::string& out, double value);

}  // namespace brindle::RecordJSON
