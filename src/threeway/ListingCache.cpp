#include "threeway/ListingCache.h"

#include "common/Files.h"
#include "common/Text.h"
#include "threeway/RecordJSON.h"

#include <charconv>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace brindle::TreeWalk {

namespace fs = std::filesystem;

namespace {

// Names may hold any byte but NUL, so every field ends with one. The last
// line is a checksum of everything before it: a damaged file whose folders
// still parsed would otherwise hide files, and a hidden file looks deleted.
constexpr std::string_view kHeader = "brindle folder listing 1\n";

void field(std::string& out, uint64_t value) {
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
    out.push_back('\0');
}

// Reads the fields of a saved cache in order; any misfit makes ok() false.
class Fields {
public:
    explicit Fields(std::string_view bytes) : rest_(bytes) {}

    std::string_view text() {
        size_t end = rest_.find('\0');
        if (end == std::string_view::npos) {
            ok_ = false;
            return {};
        }
        std::string_view value = rest_.substr(0, end);
        rest_.remove_prefix(end + 1);
        return value;
    }

    template <typename T>
    T number() {
        std::string_view digits = text();
        uint64_t value = 0;
        auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (error != std::errc() || end != digits.data() + digits.size() || digits.empty()) ok_ = false;
        return static_cast<T>(value);
    }

    bool ok() const { return ok_; }
    const char* at() const { return rest_.data(); }
    bool done() const { return rest_.empty(); }

private:
    std::string_view rest_;
    bool ok_ = true;
};

// Writes the cache to out a megabyte at a time: a large tree's listing is
// never held whole in memory a second time.
template <typename Cache>
void encode(const Cache& cache, Files::AtomicFile& out) {
    std::string text(kHeader);
    uint64_t sum = Text::kChecksumStart;
    auto flush = [&] {
        if (text.size() < (1u << 20)) return;
        sum = Text::checksum(text, sum);
        out.writeWhenFull(text);
    };
    field(text, cache.mount);
    field(text, static_cast<uint64_t>(cache.walkStartNs));
    cache.forEachFolder([&](std::string_view prefix, const ListingCache::Recorded& folder) {
        text.append(prefix).push_back('\0');
        for (uint64_t value : {static_cast<uint64_t>(folder.device), static_cast<uint64_t>(folder.inode),
                               static_cast<uint64_t>(folder.mtimeNs), static_cast<uint64_t>(folder.ctimeNs),
                               static_cast<uint64_t>(folder.count)})
            field(text, value);
        // The names are kept as the file holds them.
        text.append(folder.names);
        flush();
    });
    field(text, Text::checksum(text, sum));
    out.write(text);
}

}  // namespace

ListingCache ListingCache::load(const fs::path& file) {
    // Mapped, and let go of when read: a large tree's listing is not copied.
    RecordJSON::MappedFile mapped(file.string());
    std::string_view bytes = mapped.bytes();
    if (bytes.size() < kHeader.size() || bytes.compare(0, kHeader.size(), kHeader) != 0) return {};
    // The checksum is the last field: digits and a NUL after the content.
    size_t sumStart = bytes.find_last_of('\0', bytes.size() - 2);
    if (bytes.back() != '\0' || sumStart == std::string::npos) return {};
    std::string_view content(bytes.data(), sumStart + 1);
    Fields sum(bytes.substr(sumStart + 1));
    if (sum.number<uint64_t>() != Text::checksum(content) || !sum.ok()) return {};

    ListingCache cache;
    Fields fields(content.substr(kHeader.size()));
    cache.mount = fields.number<uint64_t>();
    cache.walkStartNs = fields.number<int64_t>();
    cache.loaded_.reserve(content.size());
    while (fields.ok() && !fields.done()) {
        std::string_view prefix = fields.text();
        Folder folder;
        folder.device = fields.number<dev_t>();
        folder.inode = fields.number<ino_t>();
        folder.mtimeNs = fields.number<int64_t>();
        folder.ctimeNs = fields.number<int64_t>();
        auto count = fields.number<size_t>();
        const char* names = fields.at();
        for (size_t i = 0; i < count && fields.ok(); ++i)
            if (fields.text().size() < 2) return {};
        if (!fields.ok()) return {};
        cache.addLoaded(prefix, folder, std::string_view(names, static_cast<size_t>(fields.at() - names)), count);
    }
    // Records are found by 32-bit offsets.
    if (!fields.ok() || cache.mount == 0 || cache.loaded_.size() > UINT32_MAX) return {};
    cache.loaded_.shrink_to_fit();
    cache.index();
    return cache;
}

namespace {

// A loaded record's header: the folder's four numbers, three lengths, and
// its marks.
struct Header {
    uint64_t device, inode;
    int64_t mtimeNs, ctimeNs;
    uint32_t prefixBytes, namesBytes, count;
};
constexpr size_t kLengthsAt = sizeof(uint64_t) * 4;
constexpr size_t kMarksAt = kLengthsAt + sizeof(uint32_t) * 3;
constexpr size_t kHeaderBytes = kMarksAt + 1;
constexpr char kLive = 1;  // not replaced, not dropped
constexpr char kSeen = 2;  // by the walk under way

Header headerAt(const std::string& packed, size_t at) {
    Header header{};
    const char* from = packed.data() + at;
    for (void* field : {static_cast<void*>(&header.device), static_cast<void*>(&header.inode),
                        static_cast<void*>(&header.mtimeNs), static_cast<void*>(&header.ctimeNs)}) {
        std::memcpy(field, from, sizeof(uint64_t));
        from += sizeof(uint64_t);
    }
    for (uint32_t* field : {&header.prefixBytes, &header.namesBytes, &header.count}) {
        std::memcpy(field, from, sizeof(uint32_t));
        from += sizeof(uint32_t);
    }
    return header;
}

// A slot of the index: the record's offset + 1 (0: empty) beside 32 bits of
// its prefix's hash, so that a probe seldom reads a record that is not it.
uint64_t slotOf(size_t offset, size_t hash) {
    return (static_cast<uint64_t>(hash >> 32) << 32) | static_cast<uint32_t>(offset + 1);
}

}  // namespace

void ListingCache::addLoaded(std::string_view prefix, const Folder& folder, std::string_view names, size_t count) {
    offsets_.push_back(static_cast<uint32_t>(loaded_.size()));
    auto put = [&](const auto& value) { loaded_.append(reinterpret_cast<const char*>(&value), sizeof value); };
    put(static_cast<uint64_t>(folder.device));
    put(static_cast<uint64_t>(folder.inode));
    put(folder.mtimeNs);
    put(folder.ctimeNs);
    put(static_cast<uint32_t>(prefix.size()));
    put(static_cast<uint32_t>(names.size()));
    put(static_cast<uint32_t>(count));
    loaded_.push_back(kLive);
    loaded_.append(prefix).append(names);
}

std::string_view ListingCache::prefixOf(size_t offset) const {
    uint32_t bytes = 0;
    std::memcpy(&bytes, loaded_.data() + offset + kLengthsAt, sizeof bytes);
    return std::string_view(loaded_).substr(offset + kHeaderBytes, bytes);
}

char& ListingCache::marksOf(size_t offset) {
    return loaded_[offset + kMarksAt];
}

ListingCache::Recorded ListingCache::recordedAt(size_t offset) const {
    Header header = headerAt(loaded_, offset);
    size_t names = offset + kHeaderBytes + header.prefixBytes;
    return Recorded{static_cast<dev_t>(header.device),
                    static_cast<ino_t>(header.inode),
                    header.mtimeNs,
                    header.ctimeNs,
                    std::string_view(loaded_).substr(names, header.namesBytes),
                    header.count,
                    offset,
                    nullptr};
}

ListingCache::Recorded ListingCache::recordedOf(const Folder& folder) {
    return Recorded{folder.device,         folder.inode,        folder.mtimeNs,    folder.ctimeNs,
                    folder.names.packed(), folder.names.size(), std::string::npos, nullptr};
}

size_t ListingCache::slotFor(std::string_view prefix, size_t hash) const {
    size_t mask = slots_.size() - 1;
    uint64_t tag = slotOf(0, hash) >> 32;
    size_t slot = hash & mask;
    for (; slots_[slot] != 0; slot = (slot + 1) & mask)
        if (slots_[slot] >> 32 == tag && prefixOf(static_cast<uint32_t>(slots_[slot]) - 1) == prefix) break;
    return slot;
}

// Indexes the loaded records by prefix; of two with one prefix the first counts.
void ListingCache::index() {
    size_t capacity = 16;
    while (capacity < offsets_.size() * 2) capacity *= 2;
    slots_.assign(capacity, 0);
    loadedLive_ = offsets_.size();
    for (uint32_t offset : offsets_) {
        std::string_view prefix = prefixOf(offset);
        size_t hash = std::hash<std::string_view>{}(prefix);
        uint64_t& slot = slots_[slotFor(prefix, hash)];
        if (slot == 0)
            slot = slotOf(offset, hash);
        else
            marksOf(offset) = 0, --loadedLive_;
    }
}

std::optional<size_t> ListingCache::findLoaded(std::string_view prefix) const {
    if (slots_.empty()) return std::nullopt;
    uint64_t slot = slots_[slotFor(prefix, std::hash<std::string_view>{}(prefix))];
    if (slot == 0) return std::nullopt;
    size_t offset = static_cast<uint32_t>(slot) - 1;
    return loaded_[offset + kMarksAt] & kLive ? std::optional(offset) : std::nullopt;
}

std::optional<ListingCache::Recorded> ListingCache::find(const std::string& prefix) {
    if (!made_.empty())
        if (auto made = made_.find(prefix); made != made_.end()) {
            Recorded recorded = recordedOf(made->second);
            recorded.made = &made->second;
            return recorded;
        }
    if (auto offset = findLoaded(prefix)) return recordedAt(*offset);
    return std::nullopt;
}

void ListingCache::markSeen(const Recorded& folder) {
    if (folder.made)
        folder.made->seen = true;
    else
        marksOf(folder.offset) |= kSeen;
}

ListingCache::Folder& ListingCache::replace(const std::string& prefix) {
    if (auto offset = findLoaded(prefix)) marksOf(*offset) = 0, --loadedLive_;
    Folder& folder = made_[prefix];
    folder = Folder{};
    return folder;
}

ListingCache::Folder& ListingCache::at(const std::string& prefix) {
    if (auto made = made_.find(prefix); made != made_.end()) return made->second;
    auto offset = findLoaded(prefix);
    if (!offset) throw std::out_of_range("no record of " + prefix);
    Recorded recorded = recordedAt(*offset);
    bool seen = (marksOf(*offset) & kSeen) != 0;
    Folder& folder = replace(prefix);
    folder.device = recorded.device, folder.inode = recorded.inode;
    folder.mtimeNs = recorded.mtimeNs, folder.ctimeNs = recorded.ctimeNs;
    forEachName(recorded.names, [&](const char* name, unsigned char type) { folder.names.add(name, type); });
    folder.seen = seen;
    return folder;
}

void ListingCache::keepSeen() {
    for (uint32_t offset : offsets_) {
        char& marks = marksOf(offset);
        if (marks == kLive) --loadedLive_;  // live but not seen: gone
        marks = marks == (kLive | kSeen) ? kLive : 0;
    }
    for (auto it = made_.begin(); it != made_.end();)
        it = std::exchange(it->second.seen, false) ? std::next(it) : made_.erase(it);
}

void ListingCache::clear() {
    loaded_.clear();
    offsets_.clear();
    slots_.clear();
    loadedLive_ = 0;
    made_.clear();
}

template <typename Each>
void ListingCache::forEachFolder(Each&& each) const {
    for (uint32_t offset : offsets_)
        if (loaded_[offset + kMarksAt] & kLive) each(prefixOf(offset), recordedAt(offset));
    for (const auto& [prefix, folder] : made_) each(std::string_view(prefix), recordedOf(folder));
}

void ListingCache::save(const fs::path& file) {
    std::error_code error;
    if (mount == 0 || empty()) {
        fs::remove(file, error);
        changed = false;
        return;
    }
    if (!changed || readSinceSaved * 64 < size()) return;
    try {
        fs::create_directories(file.parent_path(), error);
        // Not flushed: an older copy is trusted folder by folder only where
        // the folder is unchanged since, and a damaged one fails its checksum.
        Files::AtomicFile out(file);
        encode(*this, out);
        out.commit(false);
        changed = false;
        readSinceSaved = 0;
    } catch (const std::exception&) {
        // Kept as changed: the next walk tries again.
    }
}

}  // namespace brindle::TreeWalk
