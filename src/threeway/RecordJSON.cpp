#include "threeway/RecordJSON.h"

#include <nlohmann/json.hpp>

#include <charconv>

namespace brindle::RecordJSON {

namespace {

// Streams the parser's events into records. Depth counts open objects and
// arrays; anything that is not where a record or a known field belongs is
// skipped.
class Handler : public nlohmann::json_sax<nlohmann::json> {
public:
    explicit Handler(const Reader& reader) : reader_(reader), recordDepth_(reader.sectioned ? 3 : 2) {}

    std::vector<std::string> topKeys;

    bool null() override { return scalarDone(); }
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
            if (field_ == "path") setText(record_.path, Record::kPath, value);
            else if (field_ == "hash") setText(record_.hash, Record::kHash, value);
            else if (field_ == "rev") setText(record_.rev, Record::kRev, value);
            else if (field_ == "size" || field_ == "mtimeNs" || field_ == "modified") return false;
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
            topKeys.push_back(topKey_);
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
            if (field_ == "size") record_.size = value, record_.present |= Record::kSize;
            else if (field_ == "mtimeNs") record_.mtimeNs = value, record_.present |= Record::kMtimeNs;
            else if (field_ == "modified") record_.modified = static_cast<double>(value), record_.present |= Record::kModified;
            else if (isKnownField()) return false;
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

}  // namespace

std::optional<std::vector<std::string>> parse(std::string_view bytes, const Reader& reader) {
    if (bytes.empty()) return std::nullopt;
    // The document must be an object: check the first non-blank character.
    size_t first = bytes.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos || bytes[first] != '{') return std::nullopt;
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

void appendString(std::string& out, std::string_view text) {
    static const char* kDigits = "0123456789abcdef";
    out += '"';
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
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
