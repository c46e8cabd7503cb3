#include "threeway/ListingCache.h"

#include "common/Files.h"
#include "common/Text.h"
#include "threeway/RecordJSON.h"

#include <charconv>
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
    bool done() const { return rest_.empty(); }

private:
    std::string_view rest_;
    bool ok_ = true;
};

bool readFolder(Fields& in, ListingCache& cache) {
    std::string prefix(in.text());
    ListingCache::Folder folder;
    folder.device = in.number<dev_t>();
    folder.inode = in.number<ino_t>();
    folder.mtimeNs = in.number<int64_t>();
    folder.ctimeNs = in.number<int64_t>();
    auto count = in.number<size_t>();
    for (size_t i = 0; i < count && in.ok(); ++i) {
        std::string_view entry = in.text();
        if (entry.size() < 2) return false;
        folder.names.add(entry.substr(1), static_cast<unsigned char>(entry[0]));
    }
    folder.names.shrink();
    cache.folders.emplace(std::move(prefix), std::move(folder));
    return in.ok();
}

// Writes the cache to out a megabyte at a time: a large tree's listing is
// never held whole in memory a second time.
void encode(const ListingCache& cache, Files::AtomicFile& out) {
    std::string text(kHeader);
    uint64_t sum = Text::kChecksumStart;
    auto flush = [&] {
        if (text.size() < (1u << 20)) return;
        sum = Text::checksum(text, sum);
        out.writeWhenFull(text);
    };
    field(text, cache.mount);
    field(text, static_cast<uint64_t>(cache.walkStartNs));
    for (const auto& [prefix, folder] : cache.folders) {
        text.append(prefix).push_back('\0');
        for (uint64_t value : {static_cast<uint64_t>(folder.device), static_cast<uint64_t>(folder.inode),
                               static_cast<uint64_t>(folder.mtimeNs), static_cast<uint64_t>(folder.ctimeNs),
                               static_cast<uint64_t>(folder.names.size())})
            field(text, value);
        folder.names.forEach([&](const char* name, unsigned char type) {
            text.append(1, static_cast<char>(type)).append(name).push_back('\0');
        });
        flush();
    }
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
    while (fields.ok() && !fields.done())
        if (!readFolder(fields, cache)) return {};
    if (!fields.ok() || cache.mount == 0) return {};
    return cache;
}

void ListingCache::save(const fs::path& file) {
    std::error_code error;
    if (mount == 0 || folders.empty()) {
        fs::remove(file, error);
        changed = false;
        return;
    }
    if (!changed || readSinceSaved * 64 < folders.size()) return;
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
