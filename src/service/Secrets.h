#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The per-user secret store: named items (service, account) -> bytes, kept in
// $XDG_CONFIG_HOME/brindle/secrets.json (default ~/.config/brindle; folder
// 0700, file 0600) as {service: {account: value}}. A value that is valid
// UTF-8 is stored as a JSON string; any other bytes as {"base64": "..."}, so
// every value round-trips exactly.
//
// Every change is a read-modify-write of the whole file under an exclusive
// flock on "secrets.lock" beside it, written atomically (temporary file,
// fsync, rename), so the tray application and a command-line mode never lose
// each other's items. Items are cached per process: a value read or written
// once (or found missing) is answered from memory afterwards. The cache lock
// is never held across file I/O. Any thread may call these.
namespace brindle::Secrets {

// The item's value, or nothing when there is none.
std::optional<std::string> get(const std::string& account, const std::string& service);

// Stores value under (service, account), replacing any previous one. Never
// throws; returns false when it could not be written (the reason is logged,
// and a file that could not be read is left as it is).
bool set(const std::string& value, const std::string& account, const std::string& service);

// Deletes the item. Never throws; a failure to write is logged.
void remove(const std::string& account, const std::string& service);

// The account names of every item of service, sorted ascending; empty when
// there are none or the file cannot be read. Not cached.
std::vector<std::string> accounts(const std::string& service);

// The secret file of the current environment.
std::filesystem::path file();

// Forgets every cached item, as a new process would start. For tests.
void forgetCache();

}  // namespace brindle::Secrets
