#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <regex>
#include <thread>

#include "QtTestApplication.h"
#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "service/Brindle.h"
#include "service/Secrets.h"
#include "support/DesktopSession.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace brindle::test {

const auto kExported =
    QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties | QDBusConnection::ExportAllSignals;

// The shell's collector of tray icons: says a host is there, remembers the items.
class FakeStatusNotifierWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    explicit FakeStatusNotifierWatcher(QDBusConnection bus) {
        bus.registerObject("/StatusNotifierWatcher", this, kExported);
        registered = bus.registerService("org.kde.StatusNotifierWatcher");
    }
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const { return items_; }
    bool registered = false;

public slots:
    void RegisterStatusNotifierItem(const QString& service) {
        items_ << service;
        emit StatusNotifierItemRegistered(service);
    }
    void RegisterStatusNotifierHost(const QString&) {}

signals:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierItemUnregistered(const QString& service);
    void StatusNotifierHostRegistered();

private:
    QStringList items_;
};

// The shell's notification server: records what is posted, answers as a user would.
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Posted {
        uint id;
        QString summary;
        QStringList actions;
    };
    explicit FakeNotificationServer(QDBusConnection bus) {
        bus.registerObject("/org/freedesktop/Notifications", this, kExported);
        registered = bus.registerService("org.freedesktop.Notifications");
    }
    void reply(uint id, const QString& text) { emit NotificationReplied(id, text); }
    std::vector<Posted> posted;
    bool registered = false;

public slots:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString&,
                const QStringList& actions, const QVariantMap&, int) {
        posted.push_back({static_cast<uint>(posted.size() + 1), summary, actions});
        return posted.back().id;
    }
    QStringList GetCapabilities() { return {"actions", "body", "inline-reply"}; }
    void CloseNotification(uint) {}

signals:
    void ActionInvoked(uint id, const QString& action);
    void NotificationReplied(uint id, const QString& text);
    void NotificationClosed(uint id, uint reason);
};

}  // namespace brindle::test

using namespace brindle;

namespace {

// Serves the test's own D-Bus objects while waiting (up to about 30 s).
template <typename Check>
bool pumpUntil(Check done) {
    for (int i = 0; i < 600 && !done(); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    return done();
}

// The tray on a private bus and X server, signed in to the stand-in with a
// GitHub store (a bare repository), so that its passes succeed.
class TrayDBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::qtApplication();
        if (!session.available()) GTEST_SKIP() << "no dbus-daemon or Xvfb";
        server.start();
        server.brindle().setAcceptAnyToken(true);
        Secrets::forgetCache();
        Brindle::storeAccount({server.url(), "device-token-1"});
        Secrets::forgetCache();
        test::git(home.path().string(), {"init", "-q", "--bare", "remotes/demo/Larder.git"});
        bus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(
            QString::fromStdString(session.busAddress()), "shell-" + QString::number(++connections)));
        watcher = std::make_unique<test::FakeStatusNotifierWatcher>(*bus);
        notifications = std::make_unique<test::FakeNotificationServer>(*bus);
        ASSERT_TRUE(watcher->registered && notifications->registered);
        std::filesystem::create_directories(home.path() / "run");
        std::filesystem::permissions(home.path() / "run", std::filesystem::perms::owner_all);
        tray.emplace(
            std::vector<std::string>{BRINDLE_BIN},
            std::map<std::string, std::string>{{"QT_QPA_PLATFORM", ""},
                                               {"DISPLAY", session.display()},
                                               {"DBUS_SESSION_BUS_ADDRESS", session.busAddress()},
                                               {"XDG_RUNTIME_DIR", (home.path() / "run").string()},
                                               {"BRINDLE_URL", server.url()},
                                               {"LARDER_FOLDER", (home.path() / "Larder").string()},
                                               {"LARDER_GITHUB_BASE", "file://" + home.path().string() + "/remotes"},
                                               {"LARDER_STATE_DIR", (home.path() / "state").string()}});
        ASSERT_TRUE(pumpUntil([&] { return !watcher->items().isEmpty(); }));
    }

    std::string gdbus(const std::string& path, std::vector<std::string> call) {
        std::vector<std::string> argv{"/usr/bin/gdbus",     "call",   "--address",
                                      session.busAddress(), "--dest", watcher->items().front().toStdString(),
                                      "--object-path",      path,     "--method"};
        argv.insert(argv.end(), call.begin(), call.end());
        test::ChildProcess child(argv);
        pumpUntil([&] { return child.finished(); });
        child.wait();
        return child.output();
    }
    // Reads the icon's menu over dbusmenu and clicks "Sync Now"; returns the layout.
    std::string clickSyncNow() {
        std::string menu =
            gdbus("/StatusNotifierItem", {"org.freedesktop.DBus.Properties.Get", "org.kde.StatusNotifierItem", "Menu"});
        std::smatch path, item;
        if (!std::regex_search(menu, path, std::regex("objectpath '([^']+)'"))) return "no menu: " + menu;
        std::string layout = gdbus(path[1].str(), {"com.canonical.dbusmenu.GetLayout", "--", "0", "-1", "[]"});
        if (!std::regex_search(layout, item, std::regex(R"(\((\d+), \{[^}]*'label': <'Sync Now'>)")))
            return "no Sync Now: " + layout;
        gdbus(path[1].str(), {"com.canonical.dbusmenu.Event", item[1].str(), "clicked", "<0>", "0"});
        return layout;
    }

    static inline int connections = 0;
    test::IsolatedHome home;
    test::DesktopSession session{true};
    devserver::DevServer server;
    std::unique_ptr<QDBusConnection> bus;
    std::unique_ptr<test::FakeStatusNotifierWatcher> watcher;
    std::unique_ptr<test::FakeNotificationServer> notifications;
    std::optional<test::ChildProcess> tray;
};

// A file new in Shared after the first pass is offered once Sync Now is clicked
// (the folder watcher's pass would wait a minute), and the inline reply shares it.
TEST_F(TrayDBusTest, SyncNowFromTheMenuOffersANewSharedFileWhoseReplySharesIt) {
    ASSERT_TRUE(pumpUntil([&] { return std::filesystem::exists(home.path() / "state" / "shared-offered.json"); }))
        << test::readFile(home.logFile());
    std::filesystem::path file = home.path() / "Larder" / "Shared" / "plan.txt";
    test::writeFile(file, "plan");
    std::filesystem::last_write_time(file, std::filesystem::file_time_type::clock::now() - std::chrono::minutes(1));
    EXPECT_NE(clickSyncNow().find("Quit Brindle"), std::string::npos);
    ASSERT_TRUE(pumpUntil([&] { return !notifications->posted.empty(); })) << test::readFile(home.logFile());
    const auto& offer = notifications->posted.front();
    EXPECT_EQ(offer.summary.toStdString(), "New file in Shared");
    EXPECT_TRUE(offer.actions.contains("share") && offer.actions.contains("skip"));
    notifications->reply(offer.id, "ann@example.org");
    ASSERT_TRUE(pumpUntil([&] { return !server.brindle().shares().empty(); }));
    EXPECT_EQ(server.brindle().shares()[0]["paths"], nlohmann::json{"Shared/plan.txt"});
}

// Control+Alt+T pressed on the X server reaches the tray's key grab, which
// sends the clipboard's text (served by xclip in the background) to Morsels.
TEST_F(TrayDBusTest, TheHotKeySendsTheClipboardToMorsels) {
    if (!std::filesystem::exists("/usr/bin/xdotool") || !std::filesystem::exists("/usr/bin/xclip"))
        GTEST_SKIP() << "no xdotool or xclip";
    const std::string display = "DISPLAY=" + session.display();
    ASSERT_EQ(
        std::system((display + " sh -c 'printf \"buy oat milk\" | xclip -selection clipboard' >/dev/null 2>&1 && " +
                     display + " /usr/bin/xdotool key ctrl+alt+t")
                        .c_str()),
        0);
    ASSERT_TRUE(pumpUntil([&] { return !server.brindle().morsels().empty(); }));
    EXPECT_NE(server.brindle().morsels().at(0).body.find("buy oat milk"), std::string::npos);
}

}  // namespace

#include "TrayDBusTest.moc"
