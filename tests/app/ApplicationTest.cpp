#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/Application.h"
#include "app/StatusView.h"
#include "app/UserDefaults.h"
#include "common/DeletionGuard.h"
#include "common/DeletionsHeld.h"
#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "drives/DriveMarker.h"
#include "service/Brindle.h"
#include "service/Keychain.h"
#include "service/Secrets.h"
#include "support/ScopedEnv.h"
#include "support/ScriptedDesktop.h"
#include "support/TempDir.h"
#include "support/TestMainLoop.h"

namespace brindle::test {
namespace {

// The application on the test main loop with a scripted desktop, against the
// stand-in service; each engine pass is counted and runs `pass`.
class ApplicationFixture : public ::testing::Test {
protected:
    void SetUp() override {
        TearDown();
        server.start();
        service().setAcceptAnyToken(true);
        env.set("BRINDLE_URL", server.url());
        env.set("LARDER_VOLUMES", (home.path() / "volumes").string());
    }
    void TearDown() override {
        app.reset();
        Secrets::forgetCache();
        Keychain::forgetCache();
    }

    devserver::BrindleService& service() { return server.brindle(); }
    std::filesystem::path folder() const { return home.path() / "Larder"; }

    void signIn() { Brindle::storeAccount({server.url(), "device-token-1"}); }
    std::string said(const std::string& message) {
        const auto* shown = desktop.last(message);
        return shown ? shown->alert.informative : "(not shown)";
    }

    Application::Options options() {
        Application::Options made;
        made.engine.folder = folder();
        made.engine.stateDir = home.path() / "state";
        made.engine.deviceName = "Test laptop";
        made.integrations.plaud = [](auto&, bool, auto&) { return PlaudSync::Result{}; };
        made.integrations.contacts = [](auto&) { return ContactsSync::Result{}; };
        made.shareWait = [](double) {};
        made.watchFolder = false;
        made.prepare = [this](SyncEngine& engine) { engine.setPassRunner([this] { return pass(++passes); }); };
        return made;
    }

    void launch() {
        std::filesystem::create_directories(folder());
        app = Application::create(loop, desktop, options());
        app->launch();
        settle();
    }
    // Runs what is due now and waits for the background work it starts.
    void settle() {
        for (int round = 0; round < 50; ++round) {
            loop.advance(0);
            if (app) app->waitForBackground();
            loop.drain();
            if (!app || app->backgroundIdle()) return;
        }
    }
    void advance(double seconds, double step = 0.1) {
        for (double done = 0; done + 1e-9 < seconds; done += step) {
            loop.advance(std::min(step, seconds - done));
            settle();
        }
    }
    // Serves the loop in small steps until done() holds (passes run on another thread).
    template <typename Done>
    bool eventually(Done done) {
        for (int i = 0; i < 400 && !done(); ++i) {
            loop.advance(0.02);
            settle();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        settle();
        return done();
    }
    bool passesReach(int count) {
        return eventually([&] { return passes.load() >= count; });
    }

    IsolatedHome home;
    ScopedEnv env{{{"BRINDLE_TEST_ACCOUNT", std::nullopt}, {"BRINDLE_TEST_AUTOSIGNIN", std::nullopt}}};
    devserver::DevServer server;
    TestMainLoop loop;
    ScriptedDesktop desktop{loop, home.path() / "pasteboard"};
    std::atomic<int> passes{0};
    std::function<SyncResult(int)> pass = [](int) { return SyncResult{}; };  // given the pass's number
    std::shared_ptr<Application> app;
};

using ApplicationLaunchTest = ApplicationFixture;

TEST_F(ApplicationLaunchTest, TheFirstRunPromptAppearsOnlyWithoutSignInOrToken) {
    for (auto [signedIn, token, prompted] :
         {std::tuple{true, "", false}, std::tuple{false, "ghp_abc", false}, std::tuple{false, "", true}}) {
        TearDown();
        std::filesystem::remove_all(home.path() / ".config");
        if (signedIn) signIn();
        if (*token) Keychain::setToken(token);
        desktop.alerts.clear();
        launch();
        EXPECT_EQ(desktop.messages().size(), prompted ? 1u : 0u) << signedIn << " " << token;
    }
    EXPECT_EQ(desktop.messages(), std::vector<std::string>{"Welcome to Brindle"});
}

TEST_F(ApplicationLaunchTest, LaunchSetsUpTheMenuIconSharedFolderAndPassesFollowTheTickAndTheMenu) {
    signIn();
    launch();
    EXPECT_EQ(desktop.icons.front(), kIconLaunch);
    EXPECT_TRUE(std::filesystem::is_directory(folder() / "Shared"));
    EXPECT_TRUE(desktop.hotKeyRegistered && desktop.menu.find(MenuId::toggleMorselHotkey)->checked);
    ASSERT_TRUE(eventually([&] { return desktop.icons.back() == kIconSynced; }));  // the first pass ended
    EXPECT_TRUE(desktop.menu.find(MenuId::statusLine)->title.starts_with("Up to date \u2014 last synced "));
    app->trigger(MenuId::syncNow);  // forced: not held back by the 60-second spacing
    EXPECT_TRUE(passesReach(2));
    advance(60.0, 5.0);
    EXPECT_TRUE(passesReach(3));
    app->trigger(MenuId::openMorsels);
    EXPECT_EQ(desktop.urls, std::vector<std::string>{server.url() + "/morsels"});
}

TEST_F(ApplicationLaunchTest, SignedOutTheOnlineItemsWaitTheTokenPromptAndTheSwitchesWork) {
    desktop.script("Welcome to Brindle", 1);
    desktop.script("Connect Brindle to GitHub", 0, {" \n\t"});
    launch();
    EXPECT_FALSE(Keychain::token());  // an empty token is ignored
    for (MenuId online : {MenuId::openMorsels, MenuId::openSharedLarder, MenuId::openRepo}) app->trigger(online);
    EXPECT_TRUE(desktop.urls.empty());               // online items need a sign-in
    desktop.script("Connect Brindle to GitHub", 2);  // opens GitHub, then asks again
    desktop.script("Connect Brindle to GitHub", 0, {"  ghp_abc\n"});
    app->promptForToken();
    settle();
    EXPECT_EQ(desktop.urls.back(), "https://github.com/settings/tokens/new?scopes=repo&description=Larder");
    EXPECT_EQ(Keychain::token(), "ghp_abc");
    app->toggleMorselHotkey();
    EXPECT_FALSE(desktop.hotKeyRegistered || desktop.menu.find(MenuId::toggleMorselHotkey)->checked);
    EXPECT_EQ(UserDefaults().boolean(kMorselHotkeyEnabled), false);
    app->settingsAction(SettingsAction::toggleLogin);
    EXPECT_TRUE(desktop.loginItem && desktop.settings.opensAtLogin);
}

class SignInFlowTest : public ApplicationFixture {
protected:
    // The sign-in window at launch, as the test variable opens it; codes live
    // ten minutes and ask for a poll every `interval` seconds.
    void launchSigningIn(int interval) {
        service().setCodeTiming(600, interval);
        env.set("BRINDLE_TEST_AUTOSIGNIN", "1");
        launch();
        ASSERT_EQ(desktop.messages(), std::vector<std::string>{"Sign in to Brindle"});
    }
};

TEST_F(SignInFlowTest, ApprovalClosesTheWindowAndStoresTheSignInBeforeAnyMessage) {
    launchSigningIn(2);
    EXPECT_EQ(desktop.urls.at(0), server.url() + "/device?code=" + service().userCodes().at(0));
    EXPECT_NE(desktop.alerts[0].alert.informative.find(service().userCodes().at(0)), std::string::npos);
    EXPECT_EQ(service().deviceNames(), std::vector<std::string>{"Test laptop"});
    service().approve();
    advance(2.3);  // the first poll, two seconds in, and the window's look 0.3 s later
    EXPECT_FALSE(desktop.alerts[0].open);
    ASSERT_EQ(desktop.messages(), (std::vector<std::string>{"Sign in to Brindle", "You're signed in"}));
    EXPECT_TRUE(desktop.alerts[1].accountStored);
    EXPECT_EQ(Brindle::account(), (Brindle::Account{server.url(), service().issuedTokens().at(0)}));
    EXPECT_FALSE(app->signingIn());
    EXPECT_TRUE(desktop.settings.signedIn);
}

// The window's own poller waits five seconds longer after slow_down; cancelling ends it.
TEST_F(SignInFlowTest, SlowDownLengthensThePollIntervalAndCancellingEndsThePollerSilently) {
    service().scriptPolls({"slow_down", "authorization_pending"});
    launchSigningIn(1);
    std::string polls;
    for (double step : {1.0, 5.8, 0.3}) advance(step), polls += std::to_string(service().pollCount());
    EXPECT_EQ(polls, "112");
    desktop.answerOpen("Sign in to Brindle", 1);
    advance(20.0, 1.0);
    EXPECT_FALSE(app->signingIn() || Brindle::account());
    EXPECT_EQ(service().pollCount(), 2);
    EXPECT_EQ(desktop.messages().size(), 1u);
}

TEST_F(SignInFlowTest, ExpiriesDenialAndFailedCodeRequestsEachEndInOneAlert) {
    service().scriptPolls({"expired_token", "expired_token", "expired_token"});
    launchSigningIn(1);
    advance(4.0);  // the later windows open by themselves
    EXPECT_EQ(desktop.messages().size(), 4u);
    EXPECT_EQ(said("Sign-in timed out"), "Choose Sign In to Brindle\u2026 to try again.");
    service().scriptPolls({"access_denied"});
    app->startSignIn();
    advance(1.5);
    EXPECT_EQ(said("Sign-in denied"), "The sign-in was denied on brindle.app.");
    server.injectFault("/api/v1/device/code", {devserver::Fault::Kind::Status,
                                               200,
                                               R"({"device_code": "d",
        "user_code": "U", "verification_uri": "https://b.app/d", "verification_uri_complete": "file:///etc/passwd"})",
                                               {}});
    desktop.urls.clear();
    app->startSignIn();
    settle();
    EXPECT_FALSE(app->signingIn());
    EXPECT_TRUE(desktop.urls.empty());  // only a web page is opened
    EXPECT_EQ(said("Couldn't start the sign-in"),
              "The sign-in page the service sent is not a web address: file:///etc/passwd");
}

TEST_F(SignInFlowTest, WithNoStoreTheConnectionsPageOpensAndSyncingStartsOnceOneAppears) {
    service().setStores({});
    service().setGitHubRepo(std::nullopt);
    service().scriptPolls({"approve"});
    launchSigningIn(1);
    advance(1.5);
    ASSERT_NE(desktop.last("You're signed in"), nullptr);
    EXPECT_EQ(desktop.urls.back(), server.url() + "/connections");
    ASSERT_TRUE(passesReach(2));  // the launch pass and the forced one after sign-in
    int before = passes;
    advance(10.0, 1.0);
    EXPECT_EQ(passes, before);
    service().setStores({"dropbox"});
    advance(5.0, 1.0);
    EXPECT_TRUE(passesReach(before + 1));
}

TEST_F(SignInFlowTest, SigningOutForgetsAndRevokesAndWithoutASignInDoesNothing) {
    launch();
    app->signOut();
    signIn();
    app->signOut();
    settle();
    EXPECT_FALSE(Brindle::account() || desktop.settings.signedIn);
    EXPECT_EQ(service().revokedTokens(), std::vector<std::string>{"device-token-1"});
}

class ApplicationSharingTest : public ApplicationFixture {
protected:
    void SetUp() override {
        ApplicationFixture::SetUp();
        service().setStores({});  // no store: the share's sync pass ends at once
        service().setGitHubRepo(std::nullopt);
        signIn();
    }
    void synced() {
        app->render(EngineState::synced(EngineState::Clock::now()), {});
        settle();
    }
};

TEST_F(ApplicationSharingTest, ANewSharedFileIsOfferedOnceAndAnAnsweredAddressSharesIt) {
    desktop.notificationServer = true;
    launch();
    synced();  // the first look
    writeFile(folder() / "Shared/plan.pdf", "report");
    std::filesystem::last_write_time(folder() / "Shared/plan.pdf",
                                     std::filesystem::file_time_type::clock::now() - std::chrono::minutes(1));
    synced();
    ASSERT_EQ(desktop.notifications.size(), 1u);
    const Notification& offer = desktop.notifications[0];
    EXPECT_EQ(offer.title + "|" + offer.body + "|" + offer.identifier,
              "New file in Shared|Share \u201cplan.pdf\u201d with someone? Type their email "
              "address.|share-Shared/plan.pdf");
    EXPECT_TRUE(offer.shareActions);
    app->notificationAnswered(offer.rel, "skip", "");
    synced();
    EXPECT_EQ(desktop.notifications.size(), 1u);
    EXPECT_TRUE(service().shares().empty());
    app->notificationAnswered("Shared/plan.pdf", "share", "ann@example.org");
    settle();
    ASSERT_EQ(service().shares().size(), 1u);
    EXPECT_EQ(service().shares()[0]["paths"], nlohmann::json{"Shared/plan.pdf"});
    EXPECT_EQ(desktop.notifications.back().title, "Shared");
    app->notificationAnswered("Shared/plan.pdf", "share", " , ");  // no address: ask in a dialog
    app->notificationAnswered("../outside", "", "");               // never a file outside Shared
    settle();
    EXPECT_EQ(desktop.messages(), std::vector<std::string>{"Share \u201cplan.pdf\u201d"});
}

class ApplicationDialogsTest : public ApplicationFixture {
protected:
    std::filesystem::path volume(const std::string& name) {
        std::filesystem::path path = home.path() / "volumes" / name;
        std::filesystem::create_directories(path);
        return path;
    }
};

// Offered only signed in and not yet added; one with files asks first; a
// cleared name takes the volume's, and the pass waits for the alert.
TEST_F(ApplicationDialogsTest, ADriveIsOfferedSignedInAndNotAddedAndASyncFollowsTheAlert) {
    DriveMarker::write(volume("ADDED"), "aaaaaaaa-0000-4000-8000-000000000001");
    for (int i = 0; i < 12; ++i) writeFile(volume("B-FULL") / "Larder" / ("f" + std::to_string(i)), "x");
    volume("KINGSTON");
    launch();
    app->addDrive();
    signIn();
    ASSERT_TRUE(passesReach(1));
    service().setDrives({{"aaaaaaaa-0000-4000-8000-000000000001", "ADDED"}});
    desktop.script("Add a USB Drive", 0, {"B-FULL", "Travel"}, 0);
    desktop.script("This drive already has a Larder", 1);
    app->addDrive();
    settle();
    EXPECT_EQ(said("This drive already has a Larder"),
              "Its \"Larder\" folder holds 12 file(s). They will be merged with your Larder, and nothing is deleted.");
    EXPECT_EQ(service().drives().size(), 1u);
    desktop.script("Add a USB Drive", 0, {"KINGSTON", "  \n"}, 1);
    app->addDrive();
    settle();
    EXPECT_EQ(desktop.messages().back(), "Drive added");
    EXPECT_EQ(desktop.last("Add a USB Drive")->alert.fields.at(0).choices,
              (std::vector<std::string>{"B-FULL", "KINGSTON"}));
    EXPECT_EQ(service().drives().at(1).second, "KINGSTON");
    EXPECT_TRUE(DriveMarker::read(home.path() / "volumes" / "KINGSTON"));
    EXPECT_EQ(passes, 1);
    desktop.answerOpen("Drive added", 0);
    EXPECT_TRUE(passesReach(2));
}

using ApplicationDeletionsTest = ApplicationFixture;

// The first pass holds back a mass deletion on the drive; later ones succeed.
TEST_F(ApplicationDeletionsTest, EachAnswerIsRecordedForTheStoreAndAPassFollows) {
    const std::string message = "1,204 of 2,000 files are gone from Stick; nothing was deleted here.";
    pass = [](int number) {
        DeletionsHeld held("Stick", DeletionsHeld::Side::here, 1204, 2000);
        return number > 1 ? SyncResult{} : SyncResult{{}, std::make_exception_ptr(held), {}, {{"Stick", held.what()}}};
    };
    for (auto [button, expected] :
         {std::pair{0, DeletionGuard::Answer::deleteThem}, std::pair{1, DeletionGuard::Answer::keepThem}}) {
        passes = 0;
        desktop.alerts.clear();
        signIn();
        launch();
        ASSERT_TRUE(eventually([&] { return desktop.last(message) != nullptr; }));
        EXPECT_EQ(desktop.last(message)->alert.buttons,
                  (std::vector<std::string>{"Delete Them Here Too", "Keep Them"}));
        desktop.answerOpen(message, button);
        settle();
        EXPECT_EQ(DeletionGuard::take(home.path() / "state", "Stick"), expected);
        EXPECT_TRUE(passesReach(2));
        app.reset();
    }
}

}  // namespace
}  // namespace brindle::test
