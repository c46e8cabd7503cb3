#include "ApplicationFixture.h"

using namespace brindle;

namespace {

class ApplicationSharingTest : public test::ApplicationFixture {
protected:
    void SetUp() override {
        ApplicationFixture::SetUp();
        service().setStores({});  // no store: the share's sync pass ends at once
        service().setGitHubRepo(std::nullopt);
        signIn();
    }
    // A file in Shared old enough to be offered, seen after a first look.
    void dropShared(const std::string& name) {
        synced();
        std::filesystem::path path = folder() / "Shared" / name;
        test::writeFile(path, "report");
        std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() - std::chrono::minutes(1));
    }
    void synced() {
        app->render(EngineState::synced(EngineState::Clock::now()), {});
        settle();
    }
};

TEST_F(ApplicationSharingTest, ChosenFilesAreSharedWithTheAddressesGivenAndNoAddressAsksAgain) {
    test::writeFile(folder() / "a.txt", "x");
    test::writeFile(folder() / "b.txt", "y");
    launch();
    desktop.scriptChooser({folder() / "a.txt"});
    desktop.script("Share \u201ca.txt\u201d", 0, {" , ;  ", "hi"});
    app->shareAFile();
    settle();
    EXPECT_TRUE(service().shares().empty());
    EXPECT_EQ(desktop.messages().back(), "Share \u201ca.txt\u201d");

    desktop.scriptChooser({folder() / "a.txt", folder() / "b.txt"});
    desktop.script("Share 2 files", 0, {"Ann@Example.org, bob@example.org", "  see you \n"});
    app->shareAFile();
    settle();
    ASSERT_EQ(service().shares().size(), 1u);
    EXPECT_EQ(service().shares()[0]["emails"], (nlohmann::json{"ann@example.org", "bob@example.org"}));
    EXPECT_EQ(service().shares()[0]["note"], "see you");
    EXPECT_TRUE(desktop.last("Shared")->alert.informative.starts_with("\u201ca.txt, b.txt\u201d is shared with "));
}

TEST_F(ApplicationSharingTest, ANewSharedFileIsOfferedOnceAndAnAnsweredAddressSharesIt) {
    desktop.notificationServer = true;
    launch();
    dropShared("plan.pdf");
    synced();
    ASSERT_EQ(desktop.notifications.size(), 1u);
    const Notification& offer = desktop.notifications[0];
    EXPECT_EQ(offer.title, "New file in Shared");
    EXPECT_EQ(offer.body, "Share \u201cplan.pdf\u201d with someone? Type their email address.");
    EXPECT_EQ(offer.identifier, "share-Shared/plan.pdf");
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
    EXPECT_TRUE(desktop.messages().empty());
    app->notificationAnswered("Shared/plan.pdf", "share", " , ");  // no address: ask in a dialog
    app->notificationAnswered("../outside", "", "");               // never a file outside Shared
    settle();
    EXPECT_EQ(desktop.messages(), std::vector<std::string>{"Share \u201cplan.pdf\u201d"});
}

TEST_F(ApplicationSharingTest, WithoutANotificationServerTheDialogAsksAndSignedOutNothingIsSent) {
    launch();
    dropShared("plan.pdf");
    desktop.script("Share \u201cplan.pdf\u201d", 0, {"ann@example.org", ""});
    synced();
    ASSERT_EQ(service().shares().size(), 1u);
    EXPECT_EQ(desktop.messages(), (std::vector<std::string>{"Share \u201cplan.pdf\u201d", "Shared"}));

    Brindle::forgetAccount();
    app->shareFiles({folder() / "x"}, {"ann@example.org"}, "");
    settle();
    EXPECT_EQ(desktop.last("Sign in first")->alert.informative,
              "Open Settings\u2026 and sign in to Brindle, then share the file.");
    EXPECT_EQ(service().shares().size(), 1u);
}

}  // namespace
