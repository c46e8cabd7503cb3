#pragma once

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "app/Desktop.h"
#include "common/MainLoop.h"
#include "platform/NamedPasteboard.h"

namespace brindle::test {

// A desktop for the application's flows: alerts are answered from a script
// (matched by message, first come first served) or stay open until the test
// answers them; the rest is recorded. Answers arrive later on the main loop.
class ScriptedDesktop final : public Desktop {
public:
    struct Shown {
        AlertId id = 0;
        Alert alert;
        bool open = true;
        bool accountStored = false;  // a sign-in was stored when it appeared
        Answered answered;
    };

    ScriptedDesktop(MainLoop& loop, std::filesystem::path pasteboardFolder);

    void script(const std::string& message, int button, std::vector<std::string> texts = {}, int selected = 0) {
        script_.push_back({message, {button, std::move(texts), selected}});
    }
    void answerOpen(const std::string& message, int button, std::vector<std::string> texts = {});

    std::vector<std::string> messages() const;
    const Shown* last(const std::string& message) const;

    void activate() override {}
    AlertId showAlert(const Alert& alert, Answered answered) override;
    void closeAlert(AlertId alert) override;
    void choose(const FileChooser& chooser, Chosen chosen) override;
    void openURL(const std::string& url) override { urls.push_back(url); }
    void openPath(const std::filesystem::path&) override {}
    bool notificationsAvailable() override { return notificationServer; }
    void postNotification(const Notification& notification) override { notifications.push_back(notification); }
    bool opensAtLogin() override { return loginItem; }
    void setOpensAtLogin(bool on) override;
    int registerHotKey() override { return hotKeyStatus ? hotKeyStatus : (hotKeyRegistered = true, 0); }
    void unregisterHotKey() override { hotKeyRegistered = false; }
    void setIcon(const std::string& symbol) override { icons.push_back(symbol); }
    void setMenu(const Menu& shown) override { menu = shown; }
    void showSettings(const SettingsView& view) override { settings = view; }
    void refreshSettings(const SettingsView& view) override { settings = view; }
    Pasteboard& pasteboard() override { return pasteboard_; }
    void quit() override {}

    std::vector<Shown> alerts;
    std::vector<FileChooser> choosers;
    std::vector<std::string> urls, icons;
    std::vector<Notification> notifications;
    Menu menu;
    SettingsView settings;
    bool notificationServer = false, loginItem = false, hotKeyRegistered = false;
    std::string loginFailure;  // setOpensAtLogin throws this when set
    int hotKeyStatus = 0;      // what registerHotKey returns

private:
    struct Scripted {
        std::string message;
        AlertAnswer answer;
    };
    void deliver(Shown& shown, AlertAnswer answer);

    MainLoop& loop_;
    NamedPasteboard pasteboard_;
    std::deque<Scripted> script_;
    AlertId nextId_ = 1;
};

}  // namespace brindle::test
