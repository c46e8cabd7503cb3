#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <chrono>
#include <csignal>
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

extern char** environ;

namespace brindle::test {

// The part of a desktop shell that collects tray icons: it owns
// org.kde.StatusNotifierWatcher, says a host is there, and remembers the
// items that register.
class FakeStatusNotifierWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    explicit FakeStatusNotifierWatcher(QDBusConnection bus) : bus_(bus) {
        bus_.registerObject(
            "/StatusNotifierWatcher", this,
            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties | QDBusConnection::ExportAllSignals);
        registered_ = bus_.registerService("org.kde.StatusNotifierWatcher");
    }

    bool registered() const { return registered_; }
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const { return items_; }

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
    QDBusConnection bus_;
    bool registered_ = false;
    QStringList items_;
};

// A notification server of a desktop shell: it records what is posted and
// can answer a notification the way a user would.
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Posted {
        uint id;
        QString summary, body;
        QStringList actions;
    };

    explicit FakeNotificationServer(QDBusConnection bus) : bus_(bus) {
        bus_.registerObject("/org/freedesktop/Notifications", this,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals);
        registered_ = bus_.registerService("org.freedesktop.Notifications");
    }
    bool registered() const { return registered_; }
    const std::vector<Posted>& posted() const { return posted_; }
    void reply(uint id, const QString& text) { emit NotificationReplied(id, text); }

public slots:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap&, int) {
        posted_.push_back({static_cast<uint>(posted_.size() + 1), summary, body, actions});
        return posted_.back().id;
    }
    QStringList GetCapabilities() { return {"actions", "body", "inline-reply"}; }
    void CloseNotification(uint) {}

signals:
    void ActionInvoked(uint id, const QString& action);
    void NotificationReplied(uint id, const QString& text);
    void NotificationClosed(uint id, uint reason);

private:
    QDBusConnection bus_;
    bool registered_ = false;
    std::vector<Posted> posted_;
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

// Runs a program while the test keeps serving its D-Bus objects (the tray
// may ask the watcher while it answers); returns its output.
std::string runServing(const std::vector<std::string>& argv) {
    test::TempDir folder;
    std::string out = (folder / "out").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> args;
    for (const std::string& each : argv) args.push_back(const_cast<char*>(each.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    int spawned = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return "could not start " + argv[0];
    int status = 0;
    pumpUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; });
    return test::readFile(out);
}

// The tray program on a private bus and X server, signed in to the stand-in.
class TrayDBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::qtApplication();
        if (!session.available()) GTEST_SKIP() << "no dbus-daemon or Xvfb";
        server.start();
        server.brindle().setAcceptAnyToken(true);
        server.brindle().setStores({});
        server.brindle().setGitHubRepo(std::nullopt);
        Secrets::forgetCache();
        Brindle::storeAccount({server.url(), "device-token-1"});
        Secrets::forgetCache();
        bus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(
            QString::fromStdString(session.busAddress()), "shell-" + QString::number(++connections)));
    }
    void TearDown() override {
        if (tray > 0) {
            ::kill(tray, SIGTERM);
            int status = 0;
            ::waitpid(tray, &status, 0);
        }
        bus.reset();
    }

    void startTray() {
        std::filesystem::create_directories(home.path() / "run");
        std::filesystem::permissions(home.path() / "run", std::filesystem::perms::owner_all);
        std::vector<std::string> env;
        for (char** each = environ; *each; ++each) {
            std::string entry = *each;
            if (entry.rfind("QT_QPA_PLATFORM=", 0) != 0) env.push_back(entry);
        }
        env.push_back("DISPLAY=" + session.display());
        env.push_back("DBUS_SESSION_BUS_ADDRESS=" + session.busAddress());
        env.push_back("XDG_RUNTIME_DIR=" + (home.path() / "run").string());
        env.push_back("BRINDLE_URL=" + server.url());
        env.push_back("LARDER_FOLDER=" + (home.path() / "Larder").string());
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        std::vector<char*> envp;
        for (std::string& entry : env) envp.push_back(entry.data());
        envp.push_back(nullptr);
        const char* argv[] = {BRINDLE_BIN, nullptr};
        ASSERT_EQ(::posix_spawn(&tray, BRINDLE_BIN, nullptr, nullptr, const_cast<char**>(argv), envp.data()), 0);
    }

    std::string gdbus(const std::string& dest, const std::string& path, std::vector<std::string> call) {
        std::vector<std::string> argv{"/usr/bin/gdbus", "call", "--address", session.busAddress(), "--dest", dest,
                                      "--object-path",  path,   "--method"};
        argv.insert(argv.end(), call.begin(), call.end());
        return runServing(argv);
    }

    // Reads the icon's menu over dbusmenu and clicks "Sync Now"; returns the layout.
    std::string clickSyncNow(const std::string& item) {
        std::string menu = gdbus(item, "/StatusNotifierItem",
                                 {"org.freedesktop.DBus.Properties.Get", "org.kde.StatusNotifierItem", "Menu"});
        std::smatch path;
        if (!std::regex_search(menu, path, std::regex("objectpath '([^']+)'"))) {
            ADD_FAILURE() << menu;
            return {};
        }
        std::string menuPath = path[1].str();
        std::string layout = gdbus(item, menuPath, {"com.canonical.dbusmenu.GetLayout", "--", "0", "-1", "[]"});
        std::smatch found;
        if (!std::regex_search(layout, found, std::regex(R"(\((\d+), \{[^}]*'label': <'Sync Now'>)"))) {
            ADD_FAILURE() << layout;
            return layout;
        }
        gdbus(item, menuPath, {"com.canonical.dbusmenu.Event", found[1].str(), "clicked", "<0>", "0"});
        return layout;
    }

    static inline int connections = 0;
    std::vector<std::string> extraEnv;
    test::IsolatedHome home;
    test::DesktopSession session{true};
    devserver::DevServer server;
    std::unique_ptr<QDBusConnection> bus;
    pid_t tray = 0;
};

TEST_F(TrayDBusTest, AShellReadsTheMenuOverDBusMenuAndSyncNowReachesTheService) {
    test::FakeStatusNotifierWatcher watcher(*bus);
    ASSERT_TRUE(watcher.registered());
    startTray();
    ASSERT_TRUE(pumpUntil([&] { return !watcher.items().isEmpty(); }));
    ASSERT_TRUE(pumpUntil([&] { return !server.requestsTo("/api/v1/config").empty(); }));  // the first pass

    server.clearRequests();
    std::string layout = clickSyncNow(watcher.items().front().toStdString());
    EXPECT_NE(layout.find("Quit Brindle"), std::string::npos);
    EXPECT_NE(layout.find("Connect GitHub or Dropbox on brindle.app to start syncing"), std::string::npos);
    EXPECT_TRUE(pumpUntil([&] { return !server.requestsTo("/api/v1/config").empty(); }));
}

// Given a GitHub store (a bare repository) so that passes succeed, a file
// that appears in Shared is offered through the notification server, whose
// inline reply shares it at the stand-in.
TEST_F(TrayDBusTest, ANotificationAnsweredWithAnAddressSharesTheNewFile) {
    std::filesystem::path remotes = home.path() / "remotes";
    std::filesystem::create_directories(remotes / "demo");
    test::runProgram({"/usr/bin/git", "init", "-q", "--bare", (remotes / "demo" / "Larder.git").string()});
    extraEnv = {"LARDER_GITHUB_BASE=file://" + remotes.string(),
                "LARDER_STATE_DIR=" + (home.path() / "state").string()};
    server.brindle().setStores({"github"});
    server.brindle().setGitHubRepo("demo/Larder");
    test::FakeStatusNotifierWatcher watcher(*bus);
    test::FakeNotificationServer notifications(*bus);
    ASSERT_TRUE(notifications.registered());
    startTray();
    ASSERT_TRUE(pumpUntil([&] { return !watcher.items().isEmpty(); }));
    // The first pass ended and the first look at Shared recorded what is there.
    ASSERT_TRUE(pumpUntil([&] { return std::filesystem::exists(home.path() / "state" / "shared-offered.json"); }))
        << test::readFile(home.logFile());

    std::filesystem::path file = home.path() / "Larder" / "Shared" / "plan.txt";
    test::writeFile(file, "plan");
    std::filesystem::last_write_time(file, std::filesystem::file_time_type::clock::now() - std::chrono::minutes(1));
    clickSyncNow(watcher.items().front().toStdString());
    ASSERT_TRUE(pumpUntil([&] { return !notifications.posted().empty(); })) << test::readFile(home.logFile());
    const auto& offer = notifications.posted().front();
    EXPECT_EQ(offer.summary.toStdString(), "New file in Shared");
    EXPECT_TRUE(offer.actions.contains("share") && offer.actions.contains("skip"));

    notifications.reply(offer.id, "ann@example.org");
    ASSERT_TRUE(pumpUntil([&] { return !server.brindle().shares().empty(); }));
    EXPECT_EQ(server.brindle().shares()[0]["paths"], nlohmann::json{"Shared/plan.txt"});
    EXPECT_EQ(server.brindle().shares()[0]["emails"], nlohmann::json{"ann@example.org"});
}

// Given the clipboard holding a text, Control+Alt+T pressed on the X server
// (by xdotool) reaches the tray's key grab, which sends the text to Morsels.
TEST_F(TrayDBusTest, TheHotKeySendsTheClipboardToMorsels) {
    if (!std::filesystem::exists("/usr/bin/xdotool") || !std::filesystem::exists("/usr/bin/xclip"))
        GTEST_SKIP() << "no xdotool or xclip";
    test::FakeStatusNotifierWatcher watcher(*bus);
    startTray();
    ASSERT_TRUE(pumpUntil([&] { return !watcher.items().isEmpty(); }));
    std::string display = "DISPLAY=" + session.display();
    // xclip stays in the background and serves the selection until it is replaced.
    runServing({"/bin/sh", "-c", display + " sh -c 'printf \"buy oat milk\" | xclip -selection clipboard'"});
    runServing({"/usr/bin/env", display, "/usr/bin/xdotool", "key", "ctrl+alt+t"});
    ASSERT_TRUE(pumpUntil([&] { return !server.brindle().morsels().empty(); }));
    EXPECT_NE(server.brindle().morsels().at(0).body.find("buy oat milk"), std::string::npos);
}

}  // namespace

#include "TrayDBusTest.moc"
