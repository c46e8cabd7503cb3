#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace brindle {

// A file of many records (a reconciler's state, a drive's hash cache) with a
// journal beside it (the file's name + "-journal"): a pass that changed a
// few records of a large file appends those records to the journal instead
// of writing the whole file again. Loading reads the file and then every
// sound journal entry made against that very file (same device, inode, size
// and modification time); a journal left over from an earlier file, or a
// damaged or half-written entry and all after it, is ignored. Ignoring
// entries only makes the records older, as if the last saves had not
// happened. The journal is folded into a new file once it has grown to half
// the file's size. One object per file and process; not thread-safe.
class JournaledFile {
public:
    // Encodes the whole content into out, calling pieces(out) now and then
    // (it may write out and clear what out holds).
    using Encoder = std::function<void(std::string& out, const std::function<void(std::string&)>& pieces)>;

    explicit JournaledFile(std::filesystem::path file);

    const std::filesystem::path& journal() const { return journal_; }

    // Reads the file into decode, then each journal entry into apply; false
    // when the file is missing or decode refuses it. An entry apply refuses
    // ends the journal.
    bool load(const std::function<bool(std::string_view)>& decode, const std::function<bool(std::string_view)>& apply);
    // Writes the whole content atomically as it is encoded and removes the
    // journal. Throws brindle::Error with the system's message.
    void saveAll(const Encoder& encode);
    // Appends one entry of changes and makes it durable. Returns false,
    // having written nothing, when the whole content must be written
    // instead: nothing was loaded or saved through this object, the file
    // changed since, or the journal is full. Throws brindle::Error when the
    // journal cannot be written.
    bool saveChanges(std::string_view changes);
    // Appends changes() when they are few (at most an eighth of the file's
    // records changed) and the journal takes them, else writes the whole
    // content. Throws like saveAll and saveChanges.
    void save(size_t changed, size_t records, const std::function<std::string()>& changes, const Encoder& whole);
    // Whether the file and the journal are just as this object last loaded
    // or wrote them (another process may have written either).
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
    void applyJournal(const std::function<bool(std::string_view)>& apply);

    std::filesystem::path file_;
    std::filesystem::path journal_;
    std::optional<Stamp> main_;     // the file as last loaded or written
    std::optional<Stamp> written_;  // the journal as last loaded or written; none when it is not ours
    int64_t journalBytes_ = 0;      // the sound part of the journal
};

}  // namespace brindle
