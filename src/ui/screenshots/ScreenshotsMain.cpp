// Draws the pictures of docs/screenshots from the real widgets: the settings
// window signed in and out, the menu in the states synced, syncing and error,
// the sign-in window and the add-drive dialog. scripts/screenshots.sh runs it
// under Xvfb; any Qt platform works.
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QTimer>
#include <chrono>
#include <iostream>

#include "app/Application.h"
#include "app/SignInFlow.h"
#include "app/StatusView.h"
#include "ui/AlertDialog.h"
#include "ui/MenuView.h"
#include "ui/SettingsWindow.h"
#include "ui/TrayDesktop.h"

using namespace brindle;
using namespace brindle::ui;

namespace {

bool save(QWidget& widget, const QString& folder, const char* name) {
    QPixmap picture = widget.grab();
    bool saved = !picture.isNull() && picture.save(folder + "/" + name + ".png", "PNG");
    std::cout << (saved ? "wrote " : "could not write ") << name << ".png" << std::endl;
    return saved;
}

// The menu under its icon, as a panel shows it when the icon is clicked.
bool saveMenu(const QString& folder, const char* name, const EngineState& state, const std::string& symbol,
              std::vector<std::string> skipped) {
    Menu model = Menu::initial("brindle.app");
    StatusView view = StatusView::render(state, skipped, {"GitHub", "Dropbox"}, {"Travel: synced"}, "brindle.app",
                                         [](EngineState::Clock::time_point) { return std::string("9:41 AM"); });
    model.find(MenuId::statusLine)->title = view.statusTitle;
    model.find(MenuId::skippedLine)->title = view.skippedTitle;
    model.find(MenuId::skippedLine)->hidden = view.skippedHidden;
    model.find(MenuId::drivesLine)->title = view.drivesTitle;
    model.find(MenuId::toggleMorselHotkey)->checked = true;
    MenuView menu([](MenuId) {});
    menu.show(model);
    menu.menu()->popup(QPoint(40, 40));
    QPixmap items = menu.menu()->grab();
    menu.menu()->hide();
    QPixmap picture(items.width(), items.height() + 34);
    picture.fill(QColor("#2b2b2b"));
    QPainter painter(&picture);
    painter.drawPixmap(8, 5, TrayDesktop::icon(symbol).pixmap(24, 24));
    painter.drawPixmap(0, 34, items);
    painter.end();
    bool saved = picture.save(folder + "/" + name + ".png", "PNG");
    std::cout << (saved ? "wrote " : "could not write ") << name << ".png" << std::endl;
    return saved;
}

bool saveAlert(const QString& folder, const char* name, const Alert& alert) {
    AlertDialog dialog(alert, {});
    dialog.setAttribute(Qt::WA_DeleteOnClose, false);
    dialog.show();
    QApplication::processEvents();
    bool saved = save(dialog, folder, name);
    dialog.dismiss();
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setStyle("Fusion");
    QApplication::setPalette(QApplication::style()->standardPalette());
    TrayDesktop::registerIcons();
    QString folder = argc > 1 ? argv[1] : "docs/screenshots";
    bool ok = true;
    for (bool signedIn : {true, false}) {
        SettingsWindow window([](SettingsAction) {});
        window.refresh(SettingsView::make(signedIn, true, "brindle.app", brindleVersion()));
        window.show();
        QApplication::processEvents();
        ok &= save(window, folder, signedIn ? "settings-signed-in" : "settings-signed-out");
    }
    auto now = EngineState::Clock::now();
    ok &= saveMenu(folder, "menu-synced", EngineState::synced(now), kIconSynced, {});
    ok &= saveMenu(folder, "menu-syncing", EngineState::syncing(), kIconSyncing, {});
    ok &= saveMenu(folder, "menu-error", EngineState::error("Couldn't reach GitHub: the network connection was lost."),
                   kIconProblem, {"holiday.mov"});
    ok &= saveAlert(folder, "sign-in-window", SignInFlow::windowAlert("WDJB-MJHT"));
    ok &= saveAlert(folder, "add-drive", Application::addDriveAlert({"KINGSTON", "SANDISK"}));
    return ok ? 0 : 1;
}
