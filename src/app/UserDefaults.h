#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace brindle {

// The application's few user settings, kept as one JSON object in
// $XDG_CONFIG_HOME/brindle/settings.json (default ~/.config/brindle). Every
// change is a read-modify-write written atomically, so unknown keys survive.
// Main loop only.
class UserDefaults {
public:
    explicit UserDefaults(std::filesystem::path file = defaultFile());

    static std::filesystem::path defaultFile();

    // The boolean stored under key; nothing when absent, not a boolean, or
    // the file is unreadable.
    std::optional<bool> boolean(const std::string& key) const;
    // Stores value under key. Throws brindle::Error when it cannot be written.
    void setBoolean(const std::string& key, bool value);

    const std::filesystem::path& file() const { return file_; }

private:
    std::filesystem::path file_;
};

// The key of the Morsels hot-key switch; absent counts as on.
inline constexpr const char* kMorselHotkeyEnabled = "morselHotkeyEnabled";

}  // namespace brindle
