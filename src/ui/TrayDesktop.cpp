#include "ui/TrayDesktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QUrl>
#include <optional>

#include "app/Application.h"
#include "common/Files.h"
#include "common/Text.h"
#include "platform/qt/SystemPasteboard.h"
#include "ui/AutostartEntry.h"

// Resources of a static library are registered by hand, outside any namespace.
static void initIcons() {
    Q_INIT_RESOURCE(icons);
}

namespace brindle::ui {

void TrayDesktop::registerIcons() {
    initIcons();
}

TrayDesktop::TrayDesktop()
    : menu_([this](MenuId id) { withApp([id](Application& app) { app.trigger(id); }); }),
      settings_([this](SettingsAction action) { withApp([action](Application& app) { app.settingsAction(action); }); }),
      notifications_([this](const std::string& rel, const std::string& action, const std::string& text) {
          withApp([=](Application& app) { app.notificationAnswered(rel, action, text); });
      }),
      hotKey_([this] { withApp([](Application& app) { app.hotKeyPressed(); }); }) {
    tray_.setToolTip("Brindle");
    tray_.setContextMenu(menu_.menu());
    // Desktops that send a plain click to the icon get the menu too.
    QObject::connect(&tray_, &QSystemTrayIcon::activated, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) menu_.menu()->popup(QCursor::pos());
    });
}

TrayDesktop::~TrayDesktop() {
    for (auto& [id, dialog] : alerts_)
        if (dialog) dialog->dismiss();
}

template <typename Call>
void TrayDesktop::withApp(Call call) {
    if (auto app = app_.lock()) call(*app);
}

bool TrayDesktop::trayAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayDesktop::activate() {
    // A tray application has no window of its own to raise; the next dialog
    // asks for the focus itself.
}

Desktop::AlertId TrayDesktop::showAlert(const Alert& alert, Answered answered) {
    AlertId id = nextAlert_++;
    auto* dialog = new AlertDialog(alert, [this, id, answered](const AlertAnswer& answer) {
        alerts_.erase(id);
        if (answered) answered(answer);
    });
    alerts_[id] = dialog;
    dialog->open();
    dialog->raise();
    dialog->activateWindow();
    return id;
}

void TrayDesktop::closeAlert(AlertId id) {
    auto found = alerts_.find(id);
    if (found == alerts_.end()) return;
    if (found->second) found->second->dismiss();
    alerts_.erase(found);
}

void TrayDesktop::choose(const FileChooser& chooser, Chosen chosen) {
    auto* dialog = new QFileDialog(nullptr, QString::fromStdString(chooser.message),
                                   QString::fromStdString(chooser.start.string()));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setLabelText(QFileDialog::Accept, chooser.folders ? "Choose" : "Share");
    if (chooser.folders) {
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly);
    } else {
        dialog->setFileMode(chooser.multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    }
    QObject::connect(dialog, &QFileDialog::finished, [dialog, chosen](int result) {
        std::vector<std::filesystem::path> paths;
        if (result == QDialog::Accepted)
            for (const QString& file : dialog->selectedFiles()) paths.emplace_back(file.toStdString());
        chosen(paths);
    });
    dialog->open();
}

void TrayDesktop::openURL(const std::string& url) {
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

void TrayDesktop::openPath(const std::filesystem::path& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path.string())));
}

bool TrayDesktop::notificationsAvailable() {
    return notifications_.available();
}

void TrayDesktop::postNotification(const Notification& notification) {
    notifications_.post(notification);
}

bool TrayDesktop::opensAtLogin() {
    return AutostartEntry::enabled();
}

void TrayDesktop::setOpensAtLogin(bool on) {
    // The program the user starts (`brindle`), which hands over to this one.
    std::optional<std::string> launcher = Files::env("BRINDLE_LAUNCHER");
    AutostartEntry::setEnabled(
        on, launcher && !launcher->empty() ? *launcher : QApplication::applicationFilePath().toStdString());
}

int TrayDesktop::registerHotKey() {
    return hotKey_.registerKey();
}

void TrayDesktop::unregisterHotKey() {
    hotKey_.unregisterKey();
}

QIcon TrayDesktop::icon(const std::string& symbol) {
    QString path = ":/icons/" + QString::fromStdString(symbol) + ".svg";
    if (!QFile::exists(path)) path = ":/icons/externaldrive.svg";
    return QIcon(path);
}

void TrayDesktop::setIcon(const std::string& symbol) {
    tray_.setIcon(icon(symbol));
    if (!tray_.isVisible()) tray_.show();
}

void TrayDesktop::setMenu(const Menu& menu) {
    menu_.show(menu);
}

void TrayDesktop::showSettings(const SettingsView& view) {
    SettingsView shown = view;
    shown.notice = notice_;
    settings_.present(shown);
}

void TrayDesktop::refreshSettings(const SettingsView& view) {
    SettingsView shown = view;
    shown.notice = notice_;
    settings_.refresh(shown);
}

Pasteboard& TrayDesktop::pasteboard() {
    if (!pasteboard_) pasteboard_ = std::make_unique<SystemPasteboard>();
    return *pasteboard_;
}

void TrayDesktop::quit() {
    QApplication::quit();
}

}  // namespace brindle::ui
