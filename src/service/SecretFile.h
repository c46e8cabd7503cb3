#pragma once

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

// The secret file behind Secrets and Keychain: {service: {account: value}}
// in a private folder. No caching here; every call goes to the disk.
namespace brindle::SecretFile {

// $XDG_CONFIG_HOME/brindle/secrets.json (default ~/.config/brindle).
std::filesystem::path path();

// The whole store as read now; an empty object when the file is missing or
// unreadable. Permissions wider than the owner's are tightened (and logged).
nlohmann::json load();

// One item's value, decoded; nothing when absent.
std::optional<std::string> read(const std::string& service, const std::string& account);

// Applies change to the store as it is on disk now and writes the result
// atomically, all under an exclusive lock that every writer takes, so
// concurrent writers (threads or processes) never lose each other's items.
// Throws brindle::Error, writing nothing, when the folder or file cannot be
// written, when the file exists but cannot be read, and when a file that is
// not a JSON object cannot be moved aside (to "secrets.damaged-*.json").
void update(const std::function<void(nlohmann::json& store)>& change);

// The JSON form of a value: a string when it is UTF-8, else {"base64": ...}.
nlohmann::json encode(const std::string& value);
// The value of an item's JSON form; nothing for a form this program does not
// write.
std::optional<std::string> decode(const nlohmann::json& stored);

}  // namespace brindle::SecretFile
