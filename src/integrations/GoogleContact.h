#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace brindle {

// One person as read from one Google account.
struct GoogleContact {
    std::string account;       // the account's label as shown to the user
    std::string resourceName;  // "people/c123…"
    std::string etag;
    std::string displayName;  // the resource name when the person has no name
    std::string givenName;
    std::string familyName;
    std::vector<std::string> emails;  // trimmed, lower-cased
    std::vector<std::string> phones;
    std::vector<std::string> organizations;
    std::vector<std::string> addresses;
    std::string notes;
    std::optional<std::string> photoURL;
};

// One person merged from every record that shares an e-mail address with it.
struct MergedContact {
    std::string displayName;
    std::string givenName;
    std::string familyName;
    std::vector<std::string> emails;
    std::vector<std::string> phones;
    std::vector<std::string> organizations;
    std::vector<std::string> addresses;
    std::string notes;
    std::optional<std::string> photoURL;
    // One per record: "account", "resource_name", "etag".
    std::vector<std::map<std::string, std::string>> sources;
};

}  // namespace brindle
