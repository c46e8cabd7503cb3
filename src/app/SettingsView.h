#pragma once

#include <string>

namespace brindle {

// The settings window's contents for one account state; the window only
// draws them.
struct SettingsView {
    bool signedIn = false;
    bool opensAtLogin = false;
    std::string accountLabel;
    std::string accountButton;
    bool tokenControlsHidden = false;
    std::string versionLabel;
    // A line shown above everything else when not empty (e.g. no tray host).
    std::string notice;

    static constexpr const char* kTitle = "Brindle Settings";
    static constexpr const char* kTokenButton = "Use a GitHub Token Instead\u2026";
    static constexpr const char* kTokenNote = "Only for keeping your Larder on GitHub without a Brindle account.";
    static constexpr const char* kLoginBox = "Open Brindle when I log in";
    static constexpr const char* kShowLog = "Show Log";

    // host: the service's host name; version: the program's version text.
    static SettingsView make(bool signedIn, bool opensAtLogin, const std::string& host, const std::string& version);
};

// The buttons of the settings window.
enum class SettingsAction { signIn, signOut, useToken, showLog, toggleLogin };

// The program's version.
const char* brindleVersion();

}  // namespace brindle
