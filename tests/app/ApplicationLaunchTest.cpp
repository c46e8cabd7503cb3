#include "ApplicationFixture.h"
#include "app/StatusView.h"
#include "app/UserDefaults.h"

using namespace brindle;

namespace {

using ApplicationLaunchTest = test::ApplicationFixture;

TEST_F(ApplicationLaunchTest, TheFirstRunPromptAppearsOnlyWithoutSignInOrToken) {
    for (auto [signedIn, token, prompted] :
         {std::tuple{true, "", false}, std::tuple{false, "ghp_abc", false}, std::tuple{false, "", true}}) {
        TearDown();
        std::filesystem::remove_all(home.path() / ".config");
        if (signedIn) signIn();
        if (*token) Keychain::setToken(token);
        desktop.alerts.clear();
        launch();
        EXPECT_EQ(desktop.messages(),
                  prompted ? std::vector<std::string>{"Welcome to Brindle"} : std::vector<std::string>{})
            << signedIn << " " << token;
    }
}

TEST_F(ApplicationLaunchTest, LaunchSetsUpTheMenuIconSharedFolderAndPassesFollowTheTickAndTheMenu) {
    signIn();
    launch();
    EXPECT_EQ(desktop.icons.front(), kIconLaunch);
    EXPECT_TRUE(std::filesystem::is_directory(folder() / "Shared"));
    EXPECT_TRUE(desktop.hotKeyRegistered);
    EXPECT_TRUE(desktop.menu.find(MenuId::toggleMorselHotkey)->checked);
    ASSERT_TRUE(passesReach(1));
    EXPECT_TRUE(desktop.menu.find(MenuId::statusLine)->title.starts_with("Up to date \u2014 last synced "));
    EXPECT_EQ(desktop.icons.back(), kIconSynced);
    app->trigger(MenuId::syncNow);  // forced: not held back by the 60-second spacing
    EXPECT_TRUE(passesReach(2));
    advance(60.0, 5.0);
    EXPECT_TRUE(passesReach(3));
    app->trigger(MenuId::openMorsels);
    EXPECT_EQ(desktop.urls, std::vector<std::string>{server.url() + "/morsels"});
}

TEST_F(ApplicationLaunchTest, SignedOutTheSwitchesAndTheTokenPromptWork) {
    desktop.script("Welcome to Brindle", 1);
    desktop.script("Connect Brindle to GitHub", 0, {" \n\t"});
    launch();
    EXPECT_FALSE(Keychain::token());  // an empty token is ignored
    for (MenuId online : {MenuId::openMorsels, MenuId::openSharedLarder, MenuId::openRepo}) app->trigger(online);
    EXPECT_TRUE(desktop.urls.empty());  // online items need a sign-in

    desktop.script("Connect Brindle to GitHub", 2);  // opens GitHub, then asks again
    desktop.script("Connect Brindle to GitHub", 0, {"  ghp_abc\n"});
    app->promptForToken();
    settle();
    EXPECT_EQ(desktop.urls.back(), "https://github.com/settings/tokens/new?scopes=repo&description=Larder");
    EXPECT_EQ(Keychain::token(), "ghp_abc");

    app->toggleMorselHotkey();
    EXPECT_FALSE(desktop.hotKeyRegistered);
    EXPECT_FALSE(desktop.menu.find(MenuId::toggleMorselHotkey)->checked);
    EXPECT_EQ(UserDefaults().boolean(kMorselHotkeyEnabled), false);
    desktop.hotKeyStatus = 7;
    testing::internal::CaptureStderr();
    app->toggleMorselHotkey();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Morsels hotkey could not be registered (7).\n");
    EXPECT_TRUE(desktop.menu.find(MenuId::toggleMorselHotkey)->checked);

    app->settingsAction(SettingsAction::toggleLogin);
    EXPECT_TRUE(desktop.loginItem && desktop.settings.opensAtLogin);
    desktop.loginFailure = "The autostart folder can't be written.";
    app->settingsAction(SettingsAction::toggleLogin);
    EXPECT_TRUE(desktop.loginItem);
    EXPECT_NE(desktop.last("The autostart folder can't be written."), nullptr);
}

}  // namespace
