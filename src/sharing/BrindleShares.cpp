#include "sharing/BrindleShares.h"

#include "common/Text.h"

#include <utf8proc.h>

#include <algorithm>

namespace brindle::Brindle {

namespace {

// Lower case of every letter, not only ASCII ones; invalid UTF-8 is kept as
// it is, byte for byte.
std::string lowered(const std::string& text) {
    std::string out;
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    utf8proc_ssize_t at = 0, size = static_cast<utf8proc_ssize_t>(text.size());
    while (at < size) {
        utf8proc_int32_t code = 0;
        utf8proc_ssize_t length = utf8proc_iterate(bytes + at, size - at, &code);
        if (length <= 0) {
            out += text[static_cast<size_t>(at++)];
            continue;
        }
        utf8proc_uint8_t encoded[4];
        utf8proc_ssize_t written = utf8proc_encode_char(utf8proc_tolower(code), encoded);
        out.append(reinterpret_cast<const char*>(encoded), static_cast<size_t>(written));
        at += length;
    }
    return out;
}

}  // namespace

std::vector<std::string> splitEmails(const std::vector<std::string>& texts) {
    std::vector<std::string> addresses;
    for (const std::string& text : texts) {
        size_t start = 0;
        while (start <= text.size()) {
            size_t end = text.find_first_of(",; \n\t", start);
            if (end == std::string::npos) end = text.size();
            std::string address = lowered(Text::trimUnicode(std::string_view(text).substr(start, end - start)));
            if (!address.empty() && std::find(addresses.begin(), addresses.end(), address) == addresses.end())
                addresses.push_back(address);
            start = end + 1;
        }
    }
    return addresses;
}

namespace {

std::vector<std::string> texts(const nlohmann::json& object, const char* name, std::vector<std::string> otherwise) {
    if (!object.contains(name) || !object[name].is_array()) return otherwise;
    std::vector<std::string> found;
    for (const nlohmann::json& item : object[name])
        if (item.is_string()) found.push_back(item.get<std::string>());
    return found;
}

}  // namespace

ShareOutcome share(const Account& account, const std::vector<std::string>& paths,
                   const std::vector<std::string>& addresses, const std::string& note) {
    Answer answer = api("POST", "/api/v1/shares", account,
                        nlohmann::json{{"paths", paths}, {"emails", addresses}, {"note", note}});
    if (answer.status == 200) {
        nlohmann::json result = answer.json.contains("result") && answer.json["result"].is_object()
                                    ? answer.json["result"]
                                    : nlohmann::json::object();
        return {texts(result, "shared", addresses), texts(result, "email_failed", {})};
    }
    if (answer.status == 401) throw Failure::signedOut();
    const nlohmann::json& json = answer.json;
    std::string message = json.contains("message") && json["message"].is_string()
                              ? json["message"].get<std::string>()
                              : "Brindle couldn't share that" + httpSuffix(answer.status);
    throw ShareFailure(answer.error().value_or(""), message);
}

}  // namespace brindle::Brindle
