#include "threeway/RemoteStore.h"

#include <utf8proc.h>
#include <nlohmann/json.hpp>

#include <cstdlib>

namespace brindle {

void to_json(nlohmann::json& json, const RemoteFile& file) {
    json = nlohmann::json{{"path", file.path},
                          {"hash", file.hash.str()},
                          {"rev", file.rev},
                          {"size", file.size},
                          {"modified", file.modified}};
}

void from_json(const nlohmann::json& json, RemoteFile& file) {
    json.at("path").get_to(file.path);
    file.hash = json.at("hash").get<std::string>();
    json.at("rev").get_to(file.rev);
    json.at("size").get_to(file.size);
    file.modified = json.contains("modified") && json["modified"].is_number() ? json["modified"].get<double>() : 0;
}

std::string RemoteStore::streamAll(const std::function<void(RemoteEntry&)>& each, Unsyncable& unsyncable) {
    RemoteListing listing = listAll();
    for (RemoteEntry& entry : listing.entries) each(entry);
    unsyncable = std::move(listing.unsyncable);
    return std::move(listing.cursor);
}

std::string pathKey(std::string_view displayPath) {
    // Plain ASCII is already composed: lower-case it without the Unicode
    // tables (nearly every name, and the scan of a large folder keys each).
    bool ascii = true;
    for (char c : displayPath)
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii) {
        std::string key(displayPath);
        for (char& c : key)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return key;
    }
    // NFC first, then a full case fold of each code point to lower case.
    utf8proc_uint8_t* mapped = nullptr;
    auto options = static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE);
    utf8proc_ssize_t length = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(displayPath.data()),
                                           static_cast<utf8proc_ssize_t>(displayPath.size()), &mapped, options);
    if (length < 0) {
        // Not valid UTF-8: lower-case the ASCII letters and keep the rest.
        std::string key(displayPath);
        for (char& c : key)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return key;
    }
    std::string composed(reinterpret_cast<char*>(mapped), static_cast<size_t>(length));
    std::free(mapped);

    std::string key;
    key.reserve(composed.size());
    utf8proc_ssize_t at = 0;
    while (at < static_cast<utf8proc_ssize_t>(composed.size())) {
        utf8proc_int32_t codepoint = 0;
        utf8proc_ssize_t used = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(composed.data()) + at,
                                                 static_cast<utf8proc_ssize_t>(composed.size()) - at, &codepoint);
        if (used <= 0) break;
        utf8proc_uint8_t encoded[4];
        utf8proc_ssize_t size = utf8proc_encode_char(utf8proc_tolower(codepoint), encoded);
        key.append(reinterpret_cast<char*>(encoded), static_cast<size_t>(size));
        at += used;
    }
    return key;
}

}  // namespace brindle
