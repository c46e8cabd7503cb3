#include "ApplicationFixture.h"
#include "app/UserDefaults.h"
#include "common/Files.h"

using namespace brindle;

namespace {

using ApplicationLaunchTest = test::ApplicationFixture;

TEST_F(ApplicationLaunchTest, TheFirstRunPromptAppearsOnlyWithoutSignInOrToken) {
    struct Case {
        bool signedIn;
        const char* token;
        bool prompted;
    };
    for (const Case& each : {Case{true, nullptr, false}, Case{false, "ghp_abc", false}, Case{false, nullptr, true}}) {
        Secrets::forgetCache();
        Keychain::forgetCache();
        std::filesystem::remove_all(home.path() / ".config");
        if (each.signedIn) signIn();
        if (each.token) Keychain::setToken(each.token);
        desktop.alerts.clear();
        launch();
        std::vector<std::string> expected;
        if (each.prompted) expected.push_back("Welcome to Brindle");
        EXPECT_EQ(desktop.messages(), expected) << each.signedIn << " " << (each.token ? each.token : "");
        app.reset();
    }
}

TEST_F(ApplicationLaunchTest, LaunchSetsUpTheMenuIconSharedFolderAndAFirstPass) {
    signIn();
    launch();
    EXPECT_EQ(desktop.icons.front(), "externaldrive.badge.icloud");
    EXPECT_TRUE(std::filesystem::is_directory(folder() / "Shared"));
    EXPECT_TRUE(passesReach(1));
    EXPECT_EQ(desktop.menu.find(MenuId::statusLine)->title.rfind("Up to date \u2014 last synced ", 0), 0u);
    EXPECT_EQ(desktop.icons.back(), "externaldrive.badge.checkmark");
    EXPECT_TRUE(desktop.hotKeyRegistered);
    EXPECT_TRUE(desktop.menu.find(MenuId::toggleMorselHotkey)->checked);
}

TEST_F(ApplicationLaunchTest, TheTickAndTheMenuAskForPasses) {
    signIn();
    launch();
    ASSERT_TRUE(passesReach(1));
    app->trigger(MenuId::syncNow);  // forced: not held back by the 60-second spacing
    EXPECT_TRUE(passesReach(2));
    advance(60.0, 5.0);
    EXPECT_TRUE(passesReach(3));
}

TEST_F(ApplicationLaunchTest, TheHotKeySwitchIsStoredAndAFailedRegistrationIsOneLine) {
    launch();
    app->toggleMorselHotkey();
    EXPECT_FALSE(desktop.hotKeyRegistered);
    EXPECT_FALSE(desktop.menu.find(MenuId::toggleMorselHotkey)->checked);
    EXPECT_EQ(UserDefaults().boolean(kMorselHotkeyEnabled), false);

    desktop.hotKeyStatus = 7;
    testing::internal::CaptureStderr();
    app->toggleMorselHotkey();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Morsels hotkey could not be registered (7).\n");
    EXPECT_TRUE(desktop.menu.find(MenuId::toggleMorselHotkey)->checked);
}

TEST_F(ApplicationLaunchTest, OnlineItemsNeedASignIn) {
    launch();
    app->trigger(MenuId::openMorsels);
    app->trigger(MenuId::openSharedLarder);
    app->trigger(MenuId::openRepo);
    EXPECT_TRUE(desktop.urls.empty());
    signIn();
    app->trigger(MenuId::openMorsels);
    EXPECT_EQ(desktop.urls, std::vector<std::string>{server.url() + "/morsels"});
}

TEST_F(ApplicationLaunchTest, TheTokenPromptSavesATrimmedTokenAndIgnoresAnEmptyOne) {
    desktop.script("Welcome to Brindle", 1);
    desktop.script("Connect Brindle to GitHub", 0, {" \n\t"});
    launch();
    EXPECT_FALSE(Keychain::token());

    desktop.script("Connect Brindle to GitHub", 2);  // opens GitHub, then asks again
    desktop.script("Connect Brindle to GitHub", 0, {"  ghp_abc\n"});
    app->promptForToken();
    settle();
    EXPECT_EQ(desktop.urls.back(), "https://github.com/settings/tokens/new?scopes=repo&description=Larder");
    EXPECT_EQ(Keychain::token(), "ghp_abc");
}

TEST_F(ApplicationLaunchTest, TheLoginSwitchTogglesAndReportsAFailure) {
    launch();
    app->settingsAction(SettingsAction::toggleLogin);
    EXPECT_TRUE(desktop.loginItem);
    EXPECT_TRUE(desktop.settings.opensAtLogin);
    desktop.loginFailure = "The autostart folder can't be written.";
    app->settingsAction(SettingsAction::toggleLogin);
    EXPECT_TRUE(desktop.loginItem);
    EXPECT_NE(desktop.last("The autostart folder can't be written."), nullptr);
}

TEST_F(ApplicationLaunchTest, OnlyTheValueOneOfTheTestVariableStartsTheSignInWindow) {
    ::setenv("BRINDLE_TEST_AUTOSIGNIN", "yes", 1);
    launch();
    EXPECT_EQ(desktop.messages(), std::vector<std::string>{"Welcome to Brindle"});
    EXPECT_TRUE(service().userCodes().empty());
    app.reset();

    ::setenv("BRINDLE_TEST_AUTOSIGNIN", "1", 1);
    desktop.alerts.clear();
    launch();
    EXPECT_EQ(desktop.messages(), std::vector<std::string>{"Sign in to Brindle"});
}

}  // namespace
