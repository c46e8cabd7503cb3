#pragma once

#include <QPointer>
#include <QSystemTrayIcon>
#include <map>
#include <memory>

#include "app/Desktop.h"
#include "ui/AlertDialog.h"
#include "ui/DesktopNotifications.h"
#include "ui/MenuView.h"
#include "ui/SettingsWindow.h"
#include "ui/X11HotKey.h"

namespace brindle {
class Application;
class SystemPasteboard;
}  // namespace brindle

namespace brindle::ui {

// The desktop as Qt draws it: the tray icon and its menu, alert dialogs, file
// choosers, the settings window, D-Bus notifications, the autostart entry,
// the X11 hot key and the clipboard. What the user does goes to the attached
// Application. Lives on the Qt main thread, after the QApplication.
class TrayDesktop final : public Desktop {
public:
    TrayDesktop();
    ~TrayDesktop() override;

    void attach(std::weak_ptr<Application> app) { app_ = std::move(app); }

    // Whether the desktop has a tray (a StatusNotifierItem host or an XEmbed
    // system tray) to show the icon in.
    static bool trayAvailable();
    // A line shown in the settings window, e.g. when there is no tray.
    void setNotice(std::string notice) { notice_ = std::move(notice); }

    void activate() override;
    AlertId showAlert(const Alert& alert, Answered answered) override;
    void closeAlert(AlertId alert) override;
    void choose(const FileChooser& chooser, Chosen chosen) override;
    void openURL(const std::string& url) override;
    void openPath(const std::filesystem::path& path) override;
    bool notificationsAvailable() override;
    void postNotification(const Notification& notification) override;
    bool opensAtLogin() override;
    void setOpensAtLogin(bool on) override;
    int registerHotKey() override;
    void unregisterHotKey() override;
    void setIcon(const std::string& symbol) override;
    void setMenu(const Menu& menu) override;
    void showSettings(const SettingsView& view) override;
    void refreshSettings(const SettingsView& view) override;
    Pasteboard& pasteboard() override;
    void quit() override;

    QSystemTrayIcon& trayIcon() { return tray_; }
    MenuView& menuView() { return menu_; }
    SettingsWindow& settingsWindow() { return settings_; }

    // Makes the icons reachable; call once after creating the QApplication.
    static void registerIcons();
    // The icon of a symbol name; unknown names get the plain drive.
    static QIcon icon(const std::string& symbol);

private:
    template <typename Call>
    void withApp(Call call);

    std::weak_ptr<Application> app_;
    std::string notice_;
    MenuView menu_;
    QSystemTrayIcon tray_;
    SettingsWindow settings_;
    DesktopNotifications notifications_;
    X11HotKey hotKey_;
    std::unique_ptr<SystemPasteboard> pasteboard_;
    std::map<AlertId, QPointer<AlertDialog>> alerts_;
    AlertId nextAlert_ = 1;
};

}  // namespace brindle::ui
