#include "ApplicationFixture.h"
#include "drives/DriveMarker.h"

using namespace brindle;

namespace {

class ApplicationDialogsTest : public test::ApplicationFixture {
protected:
    std::filesystem::path volume(const std::string& name) {
        std::filesystem::path path = home.path() / "volumes" / name;
        std::filesystem::create_directories(path);
        return path;
    }
    std::string said(const std::string& message) { return desktop.last(message)->alert.informative; }
};

TEST_F(ApplicationDialogsTest, ADriveIsOfferedOnlySignedInAndNotYetAdded) {
    DriveMarker::write(volume("KINGSTON"), "aaaaaaaa-0000-4000-8000-000000000001");
    launch();
    app->addDrive();
    settle();
    signIn();
    service().setDrives({{"aaaaaaaa-0000-4000-8000-000000000001", "KINGSTON"}});
    app->addDrive();
    settle();
    EXPECT_EQ(desktop.messages(), (std::vector<std::string>{"Welcome to Brindle", "Sign in first", "No drive found"}));
}

TEST_F(ApplicationDialogsTest, AClearedNameRegistersTheVolumeNameAndASyncFollowsTheAlert) {
    volume("KINGSTON");
    signIn();
    launch();
    ASSERT_TRUE(passesReach(1));
    desktop.script("Add a USB Drive", 0, {"KINGSTON", "  \n"});
    app->addDrive();
    settle();
    const auto* ask = desktop.last("Add a USB Drive");
    ASSERT_NE(ask, nullptr);
    EXPECT_EQ(ask->alert.fields.at(0).choices, std::vector<std::string>{"KINGSTON"});
    EXPECT_EQ(ask->alert.fields.at(1).value, "KINGSTON");
    ASSERT_EQ(service().drives().size(), 1u);
    EXPECT_EQ(service().drives()[0].second, "KINGSTON");
    EXPECT_TRUE(said("Drive added").starts_with("\"KINGSTON\" is part of your Larder now."));
    EXPECT_EQ(passes, 1);  // the sync waits for the alert to be dismissed
    desktop.answerOpen("Drive added", 0);
    EXPECT_TRUE(passesReach(2));
}

TEST_F(ApplicationDialogsTest, ADriveWithFilesAsksFirstAndCancellingAddsNothing) {
    std::filesystem::path empty = volume("A-EMPTY");
    for (int i = 0; i < 12; ++i) test::writeFile(volume("B-FULL") / "Larder" / ("f" + std::to_string(i)), "x");
    signIn();
    launch();
    desktop.script("Add a USB Drive", 0, {"B-FULL", "Travel"}, 1);
    desktop.script("This drive already has a Larder", 1);
    app->addDrive();
    settle();
    EXPECT_EQ(said("This drive already has a Larder"),
              "Its \"Larder\" folder holds 12 file(s). They will be merged with your Larder, and nothing is deleted.");
    EXPECT_TRUE(service().drives().empty());
    desktop.script("Add a USB Drive", 0, {"A-EMPTY", "Travel"}, 0);
    app->addDrive();
    settle();
    EXPECT_EQ(desktop.messages().back(), "Drive added");
    EXPECT_EQ(service().drives().at(0).second, "Travel");
    EXPECT_TRUE(DriveMarker::read(empty));
}

TEST_F(ApplicationDialogsTest, ALoftCheckoutWhoseFilesAllExistReportsNothingCopied) {
    std::filesystem::path checkout = home.path() / "loft";
    test::writeFile(checkout / "meetings" / "standup.md", "new");
    test::writeFile(folder() / "Meetings" / "standup.md", "mine");
    launch();
    desktop.scriptChooser({checkout});
    app->importLoft();
    settle();
    EXPECT_EQ(desktop.choosers.at(0).start, home.path() / "Documents" / "GitHub" / "loft");
    EXPECT_EQ(said("Loft imported"), "0 file(s) copied into your Larder folder. They'll sync to GitHub shortly.");
    EXPECT_EQ(test::readFile(folder() / "Meetings" / "standup.md"), "mine");
    desktop.scriptChooser({home.path()});
    app->importLoft();
    settle();
    EXPECT_EQ(said("Import failed"), "That folder doesn't look like a loft checkout (no meetings folder).");
}

}  // namespace
