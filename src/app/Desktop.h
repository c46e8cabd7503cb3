#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/MenuModel.h"
#include "app/SettingsView.h"

namespace brindle {

class Pasteboard;

// One input of an alert's accessory view, placed in points from the
// accessory's bottom-left corner.
struct AlertField {
    enum class Kind { text, secure, popup };
    Kind kind = Kind::text;
    std::string placeholder;
    std::string value;                 // text kinds: the pre-filled text
    std::vector<std::string> choices;  // popup: the entries, in order
    int x = 0, y = 0, width = 0, height = 0;
};

// A modal alert: message, informative text, buttons (the first is the
// default) and an optional accessory view of fields.
struct Alert {
    std::string message;
    std::string informative;
    std::vector<std::string> buttons{"OK"};
    std::vector<AlertField> fields;
    int accessoryWidth = 0, accessoryHeight = 0;
    int focusField = -1;  // the field that gets the keyboard focus
};

// How the user left an alert: the index of the chosen button (0 = first),
// each field's text (popups: the chosen entry) and the popup's index.
struct AlertAnswer {
    int button = -1;
    std::vector<std::string> texts;
    int selected = 0;
};

struct FileChooser {
    std::string message;
    std::filesystem::path start;
    bool folders = false;   // folders only (else files only)
    bool multiple = false;  // several files
};

// A notification; with shareActions it carries the "share" (text input) and
// "skip" actions and rel, the file it asks about.
struct Notification {
    std::string identifier;
    std::string title;
    std::string body;
    bool shareActions = false;
    std::string rel;
};

// Everything the application asks of the desktop. Implemented by the Qt layer
// and, in tests, by a scripted desktop. Called on the main loop only;
// callbacks are called there too, later, never from inside the call.
class Desktop {
public:
    using AlertId = uint64_t;
    using Answered = std::function<void(const AlertAnswer&)>;
    using Chosen = std::function<void(const std::vector<std::filesystem::path>&)>;

    virtual ~Desktop() = default;

    // Brings the application's windows to the front.
    virtual void activate() = 0;
    // Shows alert and returns at once; answered runs once when the user
    // leaves it, unless closeAlert() closed it first.
    virtual AlertId showAlert(const Alert& alert, Answered answered) = 0;
    // Closes an alert that is still open, without answering it.
    virtual void closeAlert(AlertId alert) = 0;
    // Asks for files or a folder; chosen gets nothing when cancelled.
    virtual void choose(const FileChooser& chooser, Chosen chosen) = 0;

    virtual void openURL(const std::string& url) = 0;
    virtual void openPath(const std::filesystem::path& path) = 0;

    // Whether a notification server is there to show notifications.
    virtual bool notificationsAvailable() = 0;
    virtual void postNotification(const Notification& notification) = 0;

    // The open-at-login registration; setOpensAtLogin throws brindle::Error.
    virtual bool opensAtLogin() = 0;
    virtual void setOpensAtLogin(bool on) = 0;

    // The Control+Alt+T hot key: registerHotKey returns 0 or a failure
    // status; presses come back through Application::hotKeyPressed.
    virtual int registerHotKey() = 0;
    virtual void unregisterHotKey() = 0;

    // The status icon (a symbol name) and its menu.
    virtual void setIcon(const std::string& symbol) = 0;
    virtual void setMenu(const Menu& menu) = 0;

    // The settings window: shown and brought to the front, or only updated.
    virtual void showSettings(const SettingsView& view) = 0;
    virtual void refreshSettings(const SettingsView& view) = 0;

    // The clipboard; read on the main loop.
    virtual Pasteboard& pasteboard() = 0;

    virtual void quit() = 0;
};

}  // namespace brindle
