#include "integrations/GoogleContactsClient.h"

#include <nlohmann/json.hpp>
#include <set>

#include "common/Files.h"
#include "common/Text.h"
#include "integrations/IntegrationError.h"
#include "integrations/NoteText.h"
#include "service/HTTP.h"

namespace brindle {

using nlohmann::json;

namespace {

constexpr const char* kGoogleBase = "https://people.googleapis.com";
constexpr const char* kPersonFields =
    "names,emailAddresses,phoneNumbers,organizations,addresses,biographies,photos,metadata";

std::string stringAt(const json& object, const char* key) {
    if (!object.is_object()) return "";
    auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : "";
}

const json& arrayAt(const json& object, const char* key) {
    static const json empty = json::array();
    if (!object.is_object()) return empty;
    auto it = object.find(key);
    return it != object.end() && it->is_array() ? *it : empty;
}

// The non-empty string values of field in each element of list, trimmed.
std::vector<std::string> values(const json& person, const char* list, const char* field, bool lower = false) {
    std::vector<std::string> found;
    for (const auto& element : arrayAt(person, list)) {
        std::string value = stringAt(element, field);
        if (value.empty()) continue;
        value = Text::trim(value);
        found.push_back(lower ? NoteText::lowered(value) : value);
    }
    return found;
}

const json* chosenName(const json& person) {
    const json& names = arrayAt(person, "names");
    for (const auto& name : names) {
        if (!name.is_object()) continue;
        auto metadata = name.find("metadata");
        if (metadata != name.end() && metadata->is_object() && metadata->value("primary", json()) == true) return &name;
    }
    return names.empty() ? nullptr : &names.front();
}

}  // namespace

GoogleContactsClient::GoogleContactsClient(std::string label, TokenProvider tokenProvider)
    : label_(std::move(label)), tokenProvider_(std::move(tokenProvider)) {}

std::string GoogleContactsClient::baseURL() {
    auto given = Files::env("BRINDLE_PEOPLE_URL");
    if (!given) return kGoogleBase;
    std::string base = *given;
    while (!base.empty() && base.back() == '/') base.pop_back();
    bool looksLikeURL = (Text::startsWith(base, "http://") || Text::startsWith(base, "https://")) &&
                        base.find_first_of(" \t\r\n") == std::string::npos && base.find("://") + 3 < base.size();
    if (!looksLikeURL) throw IntegrationError("BRINDLE_PEOPLE_URL isn't a web address: " + *given);
    return base;
}

std::vector<GoogleContact> GoogleContactsClient::list() {
    std::vector<GoogleContact> contacts;
    std::map<std::string, std::string> query{{"personFields", kPersonFields}, {"pageSize", "1000"}};
    std::set<std::string> tokensSeen;
    while (true) {
        json page = get(query);
        for (const auto& person : arrayAt(page, "connections"))
            if (person.is_object()) contacts.push_back(parse(person));
        auto next = page.find("nextPageToken");
        if (next == page.end() || !next->is_string()) break;
        // A token seen before would start the same pages again, for ever.
        if (!tokensSeen.insert(next->get<std::string>()).second)
            throw IntegrationError("People API for \u201c" + label_ +
                                   "\u201d sent the same page token twice; stopped reading its contacts.");
        query["pageToken"] = next->get<std::string>();
    }
    return contacts;
}

json GoogleContactsClient::get(const std::map<std::string, std::string>& query) {
    std::string url = baseURL() + "/v1/people/me/connections";
    char separator = '?';
    for (const auto& [name, value] : query) {
        url += separator + Text::percentEncoded(name) + "=" + Text::percentEncoded(value);
        separator = '&';
    }
    auto attempt = [&] {
        if (!accessToken_ || accessToken_->empty()) accessToken_ = tokenProvider_();
        HTTP::Request request;
        request.url = url;
        request.headers = {{"Authorization", "Bearer " + *accessToken_}, {"Accept", "application/json"}};
        request.timeout = 30;
        return HTTP::send(request);
    };
    HTTP::Response response = attempt();
    if (response.status == 401) {
        // Tokens are short-lived: ask for a fresh one once.
        accessToken_.reset();
        response = attempt();
    }
    if (response.status >= 200 && response.status < 300) {
        json body = json::parse(response.body, nullptr, false);
        return body.is_object() ? body : json::object();
    }
    throw IntegrationError("People API failed for \u201c" + label_ + "\u201d (HTTP " + std::to_string(response.status) +
                           ")");
}

GoogleContact GoogleContactsClient::parse(const json& person) const {
    GoogleContact contact;
    contact.account = label_;
    contact.resourceName = stringAt(person, "resourceName");
    contact.etag = stringAt(person, "etag");
    if (const json* name = chosenName(person)) {
        contact.displayName = stringAt(*name, "displayName");
        contact.givenName = stringAt(*name, "givenName");
        contact.familyName = stringAt(*name, "familyName");
    }
    if (contact.displayName.empty()) contact.displayName = contact.resourceName;
    contact.emails = values(person, "emailAddresses", "value", true);
    contact.phones = values(person, "phoneNumbers", "value");
    for (const auto& address : arrayAt(person, "addresses")) {
        std::string value = stringAt(address, "formattedValue");
        if (!value.empty()) contact.addresses.push_back(value);
    }
    for (const auto& organization : arrayAt(person, "organizations")) {
        std::string name = stringAt(organization, "name"), title = stringAt(organization, "title");
        if (!name.empty() && !title.empty())
            contact.organizations.push_back(title + " at " + name);
        else if (!name.empty() || !title.empty())
            contact.organizations.push_back(name + title);
    }
    const json& biographies = arrayAt(person, "biographies");
    if (!biographies.empty()) contact.notes = stringAt(biographies.front(), "value");
    for (const auto& photo : arrayAt(person, "photos")) {
        if (photo.is_object() && photo.value("default", json()) == true) continue;
        if (photo.is_object() && photo.contains("url") && photo["url"].is_string())
            contact.photoURL = photo["url"].get<std::string>();
        break;
    }
    return contact;
}

}  // namespace brindle
