#include "threeway/RecordJSON.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <charconv>
#include <cstring>
#include <utility>

namespace brindle::RecordJSON {

namespace {

// Streams the parser's events into records. Depth counts open objects and
// arrays; anything that is not where a record or a known field belongs is
// skipped.
class Handler : public nlohmann::json_sax<nlohmann::json> {
public:
    explicit Handler(const Reader& reader) : reader_(reader), recordDepth_(reader.sectioned ? 3 : 2) {}

    std::vector<std::string> topKeys;

    bool null() override {
        if (depth_ == recordDepth_ - 1 && !inArray_ && reader_.removed)
            reader_.removed(reader_.sectioned ? section_ : std::string(), key_);
        return scalarDone();
    }
    bool boolean(bool) override { return scalarDone(); }
    bool number_integer(number_integer_t value) override { return integer(value); }
    bool number_unsigned(number_unsigned_t value) override {
        if (value > static_cast<uint64_t>(INT64_MAX)) return inRecordField() ? false : scalarDone();
        return integer(static_cast<int64_t>(value));
    }
    bool number_float(number_float_t value, const string_t&) override {
        if (inRecordField()) {
            if (field_ != "modified") return false;
            record_.modified = value;
            record_.present |= Record::kModified;
        }
        return scalarDone();
    }
    bool string(string_t& value) override {
        if (depth_ == 1 && !inArray_ && reader_.topString) reader_.topString(topKey_, value);
        if (inRecordField()) {
            if (field_ == "path")
                setText(record_.path, Record::kPath, value);
            else if (field_ == "hash")
                record_.hash = ContentHash(value), record_.present |= Record::kHash;
            else if (field_ == "rev")
                setText(record_.rev, Record::kRev, value);
            else if (field_ == "size" || field_ == "mtimeNs" || field_ == "modified")
                return false;
        }
        return scalarDone();
    }
    bool binary(binary_t&) override { return false; }
    bool start_object(std::size_t) override {
        ++depth_;
        if (depth_ == recordDepth_ && !inArray_) {
            record_ = Record();
            recordKey_ = key_;
        }
        if (depth_ == 2 && !inArray_) {
            section_ = topKey_;
            if (reader_.sectioned) topKeys.push_back(topKey_);
        }
        return true;
    }
    bool key(string_t& value) override {
        if (depth_ == 1) topKey_ = value;
        key_ = value;
        if (depth_ == recordDepth_) field_ = value;
        return true;
    }
    bool end_object() override {
        bool accepted = true;
        if (depth_ == recordDepth_ && !inArray_ && reader_.record)
            accepted = reader_.record(reader_.sectioned ? section_ : std::string(), recordKey_, std::move(record_));
        --depth_;
        return accepted;
    }
    bool start_array(std::size_t) override {
        // Arrays hold nothing we read; a known field given as an array is a wrong type.
        if (inRecordField() && isKnownField()) return false;
        ++depth_;
        ++arrays_;
        inArray_ = true;
        return true;
    }
    bool end_array() override {
        --depth_;
        inArray_ = --arrays_ > 0;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    bool inRecordField() const { return depth_ == recordDepth_ && !inArray_; }
    bool isKnownField() const {
        return field_ == "path" || field_ == "hash" || field_ == "rev" || field_ == "size" || field_ == "mtimeNs" ||
               field_ == "modified";
    }
    bool integer(int64_t value) {
        if (inRecordField()) {
            if (field_ == "size")
                record_.size = value, record_.present |= Record::kSize;
            else if (field_ == "mtimeNs")
                record_.mtimeNs = value, record_.present |= Record::kMtimeNs;
            else if (field_ == "modified")
                record_.modified = static_cast<double>(value), record_.present |= Record::kModified;
            else if (isKnownField())
                return false;
        }
        return scalarDone();
    }
    void setText(std::string& target, unsigned flag, std::string& value) {
        target = std::move(value);
        record_.present |= flag;
    }
    bool scalarDone() { return true; }

    const Reader& reader_;
    const int recordDepth_;
    int depth_ = 0;
    int arrays_ = 0;
    bool inArray_ = false;
    std::string topKey_, key_, field_, section_, recordKey_;
    Record record_;
};

// A quick reader for the documents we write ourselves: objects, strings with
// the common escapes, numbers. Anything else (arrays, \u escapes, nested
// values inside records, a malformed document) throws Unusual, and the
// document goes to the full parser, which decides.
struct Unusual {};

// The mapped file being read on this thread, if any: the reader lets go of
// the pages it has passed.
thread_local const MappedFile* mappedHere = nullptr;

class QuickReader {
public:
    QuickReader(std::string_view bytes, const Reader& reader)
        : at_(bytes.data()), end_(bytes.data() + bytes.size()), reader_(reader) {
        if (mappedHere && mappedHere->holds(bytes)) mapped_ = mappedHere;
    }

    std::vector<std::string> objects;

    // false: a callback rejected a record.
    bool document() {
        expect('{');
        if (!members([&](std::string& key) { return top(key); })) return false;
        space();
        if (at_ != end_) throw Unusual();
        return true;
    }

private:
    template <typename Member>
    bool members(Member&& member) {
        space();
        if (peek() == '}') {
            ++at_;
            return true;
        }
        while (true) {
            std::string key;
            string(key);
            expect(':');
            if (!member(key)) return false;
            space();
            char next = take();
            if (next == '}') return true;
            if (next != ',') throw Unusual();
        }
    }

    bool top(std::string& key) {
        space();
        char next = peek();
        if (next == '"') {
            std::string value;
            string(value);
            if (reader_.topString) reader_.topString(key, value);
            return true;
        }
        if (!reader_.sectioned && next == 'n' && reader_.removed) {
            expectWord("null");
            reader_.removed(std::string(), key);
            return true;
        }
        if (next != '{') return scalar();
        ++at_;
        if (!reader_.sectioned) return record(std::string(), key);
        objects.push_back(key);
        return members([&](std::string& recordKey) {
            space();
            if (peek() == 'n' && reader_.removed) {
                expectWord("null");
                reader_.removed(key, recordKey);
                return true;
            }
            if (peek() != '{') return scalar();
            ++at_;
            return record(key, recordKey);
        });
    }

    bool record(const std::string& section, std::string& key) {
        Record record;
        if (!members([&](std::string& field) { return value(record, field); })) return false;
        // Every megabyte, the pages read so far leave memory: a large state
        // file is never resident whole beside the records made from it.
        if (mapped_ && at_ - released_ > kReleaseBytes) released_ = mapped_->release(at_);
        return !reader_.record || reader_.record(section, key, std::move(record));
    }

    // A known field's flag, 0 for any other name. A name of another length
    // is passed over without looking at its characters.
    static unsigned fieldOf(std::string_view name) {
        static constexpr std::pair<std::string_view, unsigned> kFields[] = {
            {"path", Record::kPath}, {"hash", Record::kHash},       {"rev", Record::kRev},
            {"size", Record::kSize}, {"mtimeNs", Record::kMtimeNs}, {"modified", Record::kModified}};
        for (const auto& [text, flag] : kFields)
            if (name == text) return flag;
        return 0;
    }

    bool value(Record& record, const std::string& name) {
        unsigned field = fieldOf(name);
        space();
        char next = peek();
        if (next == '"') {
            if (field & (Record::kSize | Record::kMtimeNs | Record::kModified)) throw Unusual();
            if (field == Record::kPath) {
                record.path.clear();  // the last of a repeated field counts
                string(record.path);
            } else if (field == Record::kRev) {
                record.rev.clear();
                string(record.rev);
            } else {
                // A hash (or an unknown text) goes through one buffer: no allocation per record.
                scratch_.clear();
                string(scratch_);
                if (field == Record::kHash) record.hash = ContentHash(scratch_);
            }
            record.present |= field;
            return true;
        }
        if (next == '-' || (next >= '0' && next <= '9')) {
            const char* start = at_;
            while (at_ != end_ && (std::strchr("+-.eE", *at_) || (*at_ >= '0' && *at_ <= '9'))) ++at_;
            bool whole = std::find_if(start, at_, [](char c) { return c == '.' || c == 'e' || c == 'E'; }) == at_;
            if (field == Record::kSize || field == Record::kMtimeNs) {
                int64_t number = 0;
                auto parsed = std::from_chars(start, at_, number);
                if (!whole || parsed.ptr != at_ || parsed.ec != std::errc()) throw Unusual();
                (field == Record::kSize ? record.size : record.mtimeNs) = number;
            } else if (field == Record::kModified) {
                double number = 0;
                auto parsed = std::from_chars(start, at_, number);
                if (parsed.ptr != at_ || parsed.ec != std::errc()) throw Unusual();
                record.modified = number;
            } else if (field != 0) {
                throw Unusual();
            }
            record.present |= field;
            return true;
        }
        if (field != 0) throw Unusual();
        return scalar();
    }

    // true, false or null; anything else is unusual.
    bool scalar() {
        for (const char* word : {"true", "false", "null"}) {
            size_t length = std::strlen(word);
            if (static_cast<size_t>(end_ - at_) >= length && std::memcmp(at_, word, length) == 0) {
                at_ += length;
                return true;
            }
        }
        if (peek() == '-' || (peek() >= '0' && peek() <= '9')) {
            while (at_ != end_ && (std::strchr("+-.eE", *at_) || (*at_ >= '0' && *at_ <= '9'))) ++at_;
            return true;
        }
        throw Unusual();
    }

    void string(std::string& out) {
        space();
        expect('"');
        bool plain = true;
        while (true) {
            const char* start = at_;
            while (at_ != end_ && *at_ != '"' && *at_ != '\\') {
                auto byte = static_cast<unsigned char>(*at_);
                if (byte < 0x20) throw Unusual();
                plain = plain && byte < 0x80;
                ++at_;
            }
            // A whole string made at once takes just the room it needs
            // (growing one would take twice the small-string room at least).
            if (out.empty() && at_ != end_ && *at_ == '"' && out.capacity() < static_cast<size_t>(at_ - start))
                out = std::string(start, at_);
            else
                out.append(start, at_);
            if (at_ == end_) throw Unusual();
            if (*at_ == '"') {
                ++at_;
                break;
            }
            ++at_;  // the backslash
            switch (take()) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                default:
                    throw Unusual();
            }
        }
        if (!plain && !validUTF8(out)) throw Unusual();
    }

    static bool validUTF8(std::string_view text) {
        for (size_t i = 0; i < text.size();) {
            auto byte = static_cast<unsigned char>(text[i]);
            size_t length = byte < 0x80 ? 1 : (byte >> 5) == 6 ? 2 : (byte >> 4) == 14 ? 3 : (byte >> 3) == 30 ? 4 : 0;
            if (length == 0 || i + length > text.size()) return false;
            for (size_t k = 1; k < length; ++k)
                if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
            i += length;
        }
        return true;
    }

    void expectWord(std::string_view word) {
        if (static_cast<size_t>(end_ - at_) < word.size() || std::string_view(at_, word.size()) != word)
            throw Unusual();
        at_ += word.size();
    }

    void space() {
        while (at_ != end_ && (*at_ == ' ' || *at_ == '\n' || *at_ == '\r' || *at_ == '\t')) ++at_;
    }
    char peek() const { return at_ == end_ ? '\0' : *at_; }
    char take() {
        if (at_ == end_) throw Unusual();
        return *at_++;
    }
    void expect(char wanted) {
        space();
        if (take() != wanted) throw Unusual();
    }

    static constexpr ptrdiff_t kReleaseBytes = 1 << 20;

    const char* at_;
    const char* end_;
    const Reader& reader_;
    const MappedFile* mapped_ = nullptr;
    const char* released_ = at_;
    std::string scratch_;
};

}  // namespace

std::optional<std::vector<std::string>> parse(std::string_view bytes, const Reader& reader) {
    if (bytes.empty()) return std::nullopt;
    // The document must be an object: check the first non-blank character.
    size_t first = bytes.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos || bytes[first] != '{') return std::nullopt;
    try {
        QuickReader quick(bytes, reader);
        if (!quick.document()) return std::nullopt;
        return std::move(quick.objects);
    } catch (const Unusual&) {
        if (reader.restart) reader.restart();
    }
    Handler handler(reader);
    bool ok = false;
    try {
        ok = nlohmann::json::sax_parse(bytes.begin(), bytes.end(), &handler);
    } catch (const nlohmann::json::exception&) {
        ok = false;
    }
    if (!ok) return std::nullopt;
    return std::move(handler.topKeys);
}

MappedFile::MappedFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        readable_ = true;
        if (info.st_size > 0) {
            void* address = ::mmap(nullptr, static_cast<size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
            if (address == MAP_FAILED) {
                readable_ = false;
            } else {
                ::madvise(address, static_cast<size_t>(info.st_size), MADV_SEQUENTIAL);
                data_ = static_cast<const char*>(address);
                size_ = static_cast<size_t>(info.st_size);
                mapped_ = true;
                released_ = data_;
                if (!mappedHere) mappedHere = this;
            }
        }
    }
    ::close(fd);
}

MappedFile::~MappedFile() {
    if (mappedHere == this) mappedHere = nullptr;
    if (mapped_) ::munmap(const_cast<char*>(data_), size_);
}

bool MappedFile::holds(std::string_view bytes) const {
    return mapped_ && bytes.data() >= data_ && bytes.data() + bytes.size() <= data_ + size_;
}

const char* MappedFile::release(const char* upTo) const {
    // Whole pages only, from where the last call stopped. The mapping is
    // private and never written, so a page read again (the full parser
    // starts over) comes back from the file.
    static const auto kPage = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    auto start = reinterpret_cast<uintptr_t>(released_);
    auto end = reinterpret_cast<uintptr_t>(upTo) & ~(kPage - 1);
    if (end > start) {
        ::madvise(const_cast<char*>(released_), end - start, MADV_DONTNEED);
        released_ = reinterpret_cast<const char*>(end);
    }
    return upTo;
}

void appendString(std::string& out, std::string_view text) {
    static const char* kDigits = "0123456789abcdef";
    out += '"';
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            default:
                if (byte < 0x20) {
                    out += "\\u00";
                    out += kDigits[byte >> 4];
                    out += kDigits[byte & 15];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

void appendMember(std::string& out, bool& first, std::string_view key, bool present) {
    if (!first) out += ',';
    first = false;
    appendString(out, key);
    out += ':';
    if (!present) out += "null";
}

void appendNumber(std::string& out, int64_t value) {
    char text[32];
    auto end = std::to_chars(text, text + sizeof text, value).ptr;
    out.append(text, end);
}

void appendNumber(std::string& out, double value) {
    char text[64];
    auto end = std::to_chars(text, text + sizeof text, value).ptr;
    out.append(text, end);
}

}  // namespace brindle::RecordJSON
