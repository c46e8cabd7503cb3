#include "ui/TrayApplication.h"

#include <sys/socket.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QStyle>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "app/Application.h"
#include "app/Modes.h"
#include "common/Files.h"
#include "common/Log.h"
#include "platform/qt/SystemPasteboard.h"
#include "service/Brindle.h"
#include "ui/QtMainLoop.h"
#include "ui/SettingsWindow.h"
#include "ui/SingleInstance.h"
#include "ui/TrayDesktop.h"

namespace brindle::ui::TrayApplication {

namespace {

int argc = 1;
char programName[] = "brindle";
char* argv[] = {programName, nullptr};
int signalPipe[2] = {-1, -1};

void onSignal(int) {
    char byte = 1;
    [[maybe_unused]] ssize_t ignored = ::write(signalPipe[1], &byte, 1);
}

// SIGTERM, SIGINT and SIGHUP end the event loop; the application then shuts
// down as from the menu, letting a running pass finish.
void quitOnSignals(QApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] { QApplication::quit(); });
    for (int number : {SIGTERM, SIGINT, SIGHUP}) std::signal(number, onSignal);
}

constexpr const char* kNoTray =
    "There is no tray on this desktop to show the Brindle icon in (it needs a StatusNotifierItem host). Brindle "
    "keeps syncing meanwhile.";

}  // namespace

std::string displayProblem() {
    std::optional<std::string> platform = Files::env("QT_QPA_PLATFORM");
    if (platform && !platform->empty() && *platform != "xcb") return {};
    std::optional<std::string> wayland = Files::env("WAYLAND_DISPLAY");
    if (wayland && !wayland->empty() && !platform) return {};
    std::optional<std::string> display = Files::env("DISPLAY");
    if (!display || display->empty())
        return "no display to show the tray icon on (DISPLAY is not set); the command-line modes still work.";
    xcb_connection_t* probe = xcb_connect(display->c_str(), nullptr);
    bool failed = xcb_connection_has_error(probe);
    xcb_disconnect(probe);
    if (failed)
        return "can't open the display " + *display + " to show the tray icon on; the command-line modes still work.";
    return {};
}

int run(const std::vector<std::string>&) {
    if (std::string problem = displayProblem(); !problem.empty()) {
        std::cerr << "error: " << problem << std::endl;
        return 1;
    }
    QApplication qt(argc, argv);
    QApplication::setApplicationName("Brindle");
    QApplication::setQuitOnLastWindowClosed(false);
    TrayDesktop::registerIcons();
    SingleInstance instance;
    if (instance.askRunningToShowSettings()) return 0;

    QtMainLoop loop;
    TrayDesktop desktop;
    std::shared_ptr<Application> app = Application::create(loop, desktop, {});
    desktop.attach(app);
    std::weak_ptr<Application> weak = app;
    if (!instance.listen([weak] {
            Log::write("Brindle was started again: showing the settings window of this one");
            if (auto running = weak.lock()) running->trigger(MenuId::openSettings);
        }))
        Log::write("Couldn't listen on " + SingleInstance::defaultPath() + "; a second start won't find this one.");
    quitOnSignals(qt);
    bool tray = TrayDesktop::trayAvailable();
    if (!tray) {
        Log::write("No system tray: the tray icon needs a StatusNotifierItem host; syncing goes on without it.");
        desktop.setNotice(kNoTray);
    }
    app->launch();
    if (!tray) app->trigger(MenuId::openSettings);
    int status = QApplication::exec();
    app.reset();  // waits for a running pass
    return status;
}

int settingsSnapshot(const std::vector<std::string>& args) {
    if (Files::env("QT_QPA_PLATFORM").value_or("").empty()) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication qt(argc, argv);
    QApplication::setStyle("Fusion");
    QApplication::setPalette(QApplication::style()->standardPalette());
    bool signedIn = args.size() >= 4;
    SettingsWindow window([](SettingsAction) {});
    window.refresh(SettingsView::make(signedIn, true, Application::host(), brindleVersion()));
    if (!window.snapshot(args.at(2))) {
        std::cerr << "error: Couldn't write the settings picture to " << args.at(2) << "." << std::endl;
        return 1;
    }
    return 0;
}

void install() {
    Modes::installDesktop(run, settingsSnapshot);
    Modes::installSystemPasteboard([]() -> std::unique_ptr<Pasteboard> {
        auto system = std::make_unique<SystemPasteboard>();
        if (!system->unavailable().empty()) std::cerr << system->unavailable() << std::endl;
        return system;
    });
}

}  // namespace brindle::ui::TrayApplication
