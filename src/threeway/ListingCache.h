#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace brindle::TreeWalk {

// The names each folder held at the last complete walk of one root, so that
// the next walk can stat a folder's items without reading the folder again.
// A folder's names are trusted only while the root is on the same mount of a
// local file system, the folder's device, inode, modification and change
// times are as recorded, and it had last changed more than kGranularityNs
// before that walk began; anything else reads it. Kept in a file between
// walks (reading it again costs a large tree a few milliseconds; keeping it
// in memory would cost a hundred bytes per folder all along); one walk at a
// time.
struct ListingCache {
    // The coarsest clock of the file systems a Larder lives on (FAT keeps
    // modification times to two seconds).
    static constexpr int64_t kGranularityNs = 2'000'000'000;

    // Calls each(name, type) for every name packed in `packed` (its DT_*
    // type, the name, a NUL, one after another) in order; name ends with a
    // NUL.
    template <typename Each>
    static void forEachName(std::string_view packed, Each&& each) {
        for (size_t at = 0; at < packed.size();) {
            const char* name = packed.data() + at + 1;
            size_t length = std::char_traits<char>::length(name);
            each(name, static_cast<unsigned char>(packed[at]));
            at += length + 2;
        }
    }

    // A folder's names, packed in one string: a large tree has one record
    // per file, and a string per name would cost several times the name.
    class Names {
    public:
        void add(std::string_view name, unsigned char type) {
            packed_.push_back(static_cast<char>(type));
            packed_.append(name).push_back('\0');
            ++count_;
        }
        template <typename Each>
        void forEach(Each&& each) const {
            forEachName(packed_, each);
        }
        std::string_view packed() const { return packed_; }
        size_t size() const { return count_; }
        void clear() { packed_.clear(), count_ = 0; }
        void shrink() { packed_.shrink_to_fit(); }

    private:
        std::string packed_;
        size_t count_ = 0;
    };

    struct Folder {
        dev_t device = 0;
        ino_t inode = 0;
        int64_t mtimeNs = 0;
        int64_t ctimeNs = 0;
        Names names;
        bool seen = false;  // by the walk under way (all false between walks)
    };

    // What is recorded of one folder, as a walk looks it up: valid until
    // the folder's record is replaced.
    struct Recorded {
        dev_t device = 0;
        ino_t inode = 0;
        int64_t mtimeNs = 0;
        int64_t ctimeNs = 0;
        std::string_view names;  // packed as Names packs them
        size_t count = 0;        // of the names
        size_t offset = 0;       // of the loaded record (npos: a record made since)
        Folder* made = nullptr;  // the record made since loading
    };

    int64_t walkStartNs = 0;  // when the walk that recorded the folders began
    // The root's mount, never the same for two mounts (0: the kernel cannot
    // tell mounts apart, or the file system may change behind our back).
    uint64_t mount = 0;
    size_t reused = 0;     // folders the latest walk did not read
    bool changed = false;  // differs from what was loaded or last saved
    // Folders read afresh by the walks since it was loaded or last saved:
    // the ones the saved copy would not spare the next process.
    size_t readSinceSaved = 0;

    // The folder recorded at prefix (its path with a trailing "/", "" for
    // the root), or nothing.
    std::optional<Recorded> find(const std::string& prefix);
    void markSeen(const Recorded& folder);
    // A new record for prefix in place of any it had.
    Folder& replace(const std::string& prefix);
    // The record of prefix, to be changed; throws std::out_of_range when
    // there is none.
    Folder& at(const std::string& prefix);
    // Keeps only the folders the walk that ends saw, and clears the marks.
    void keepSeen();
    // Calls each(prefix, folder) for every folder recorded.
    template <typename Each>
    void forEachFolder(Each&& each) const;
    size_t size() const { return loadedLive_ + made_.size(); }
    bool empty() const { return size() == 0; }
    void clear();

    // The cache saved in file, or an empty one when the file is missing,
    // damaged or of another format (every folder is then read).
    static ListingCache load(const std::filesystem::path& file);
    // Writes the cache to file in one step when it changed and may be trusted
    // by another process (a known mount); removes the file when it may not.
    // A copy that would spare the next process all but a few folder reads
    // (under one in 64) is kept: what it says of a folder still holds while
    // the folder is unchanged, and rewriting a large tree's listing for a
    // few changed folders costs more than reading them again.
    // A failure is only logged by the caller's next full read: the cache
    // saves time and never decides what a folder holds on its own.
    void save(const std::filesystem::path& file);

private:
    // The records loaded from a file, packed one after another in one
    // string (a large tree has tens of thousands of folders, and a map entry
    // with two strings each would cost twice as much): a header (device,
    // inode, the two times, three lengths, the record's marks), the prefix,
    // the packed names. A walk changes only the marks: a folder read again
    // gets a record in made_.
    std::string loaded_;
    std::vector<uint32_t> offsets_;  // where each loaded record starts
    std::vector<uint64_t> slots_;    // open addressing by prefix (see slotOf)
    size_t loadedLive_ = 0;
    std::unordered_map<std::string, Folder> made_;  // records made since loading

    std::string_view prefixOf(size_t offset) const;
    char& marksOf(size_t offset);
    Recorded recordedAt(size_t offset) const;
    static Recorded recordedOf(const Folder& folder);  // a record made since loading
    // The slot of the index that holds prefix, or the empty one where it
    // would go.
    size_t slotFor(std::string_view prefix, size_t hash) const;
    std::optional<size_t> findLoaded(std::string_view prefix) const;
    void addLoaded(std::string_view prefix, const Folder& folder, std::string_view names, size_t count);
    void index();
};

}  // namespace brindle::TreeWalk
