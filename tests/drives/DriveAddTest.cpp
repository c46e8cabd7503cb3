#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "drives/DriveMarker.h"
#include "drives/DriveRegistration.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <regex>
#include <sys/stat.h>

namespace brindle {
namespace {

namespace fs = std::filesystem;
using devserver::DevServer;

class DriveAddTest : public ::testing::Test {
protected:
    DriveAddTest() { server.start(); }

    std::map<std::string, std::string> signedIn() {
        nlohmann::json account = {{"server", server.url()}, {"device_token", "device-1"}};
        return {{"BRINDLE_TEST_ACCOUNT", account.dump()}};
    }
    std::vector<std::string> registeredIds() {
        std::vector<std::string> ids;
        for (const auto& [id, label] : server.brindle().drives()) ids.push_back(id);
        return ids;
    }

    test::IsolatedHome home;
    test::TempDir volume;
    DevServer server;
};

TEST_F(DriveAddTest, MarksCreatesAndRegistersOnceThenReusesTheIdentifier) {
    test::ProgramResult first = test::runBrindle({"--drive-add", volume.path().string(), "Blue Stick"}, signedIn());
    ASSERT_EQ(first.status, 0) << first.err;
    std::optional<std::string> id = DriveMarker::read(volume.path());
    ASSERT_TRUE(id.has_value());
    EXPECT_TRUE(std::regex_match(*id, std::regex("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}")));
    EXPECT_EQ(first.out, "Added \"Blue Stick\" " + *id + "\n");
    EXPECT_TRUE(fs::is_directory(volume / "Larder"));
    std::string marker = test::readFile(volume / ".brindle-larder");
    EXPECT_EQ(registeredIds(), (std::vector<std::string>{*id}));

    test::ProgramResult second = test::runBrindle({"--drive-add", volume.path().string(), "Blue Stick"}, signedIn());
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(test::readFile(volume / ".brindle-larder"), marker);  // not rewritten
    EXPECT_EQ(second.out, first.out);
    EXPECT_EQ(registeredIds(), (std::vector<std::string>{*id}));
    EXPECT_EQ(server.requestsTo("/api/v1/drives").size(), 2u);
}

TEST_F(DriveAddTest, SignedOutIsRefusedBeforeTouchingTheDrive) {
    test::ProgramResult result = test::runBrindle({"--drive-add", volume.path().string(), "Blue Stick"},
                                                  {{"BRINDLE_URL", server.url()}});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "error: You're signed out of Brindle.\n");
    EXPECT_FALSE(fs::exists(volume / ".brindle-larder"));
}

TEST_F(DriveAddTest, ServiceRefusalsKeepTheMarkerForTheNextAttempt) {
    Brindle::Account account{server.url(), "device-1"};
    server.injectFault("/api/v1/drives", {devserver::Fault::Kind::Status, 409, R"({"error":"too_many_drives"})", {}});
    try {
        DriveRegistration::registerDrive(volume.path(), "Blue", account);
        FAIL();
    } catch (const std::exception& failure) {
        EXPECT_STREQ(failure.what(),
                     "You already have the most drives Brindle can keep. Remove one on the Connections page first.");
    }
    server.injectFault("/api/v1/drives", {devserver::Fault::Kind::Status, 409, R"({"error":"other"})", {}});
    EXPECT_THROW(
        try { DriveRegistration::registerDrive(volume.path(), "Blue", account); } catch (const std::exception& failure) {
            EXPECT_STREQ(failure.what(), "Brindle couldn't add the drive (HTTP 409).");
            throw;
        },
        std::exception);
    std::string id = DriveRegistration::registerDrive(volume.path(), "Blue", account);
    EXPECT_EQ(DriveMarker::read(volume.path()), id);
    EXPECT_EQ(registeredIds(), (std::vector<std::string>{id}));
    EXPECT_EQ(server.requestsTo("/api/v1/drives").size(), 3u);
}

// Given a marker that cannot be written (a folder in its place, which stops
// root as well as a read-only volume would), then nothing is registered.
TEST_F(DriveAddTest, UnwritableMarkerFailsWithoutAsking) {
    fs::create_directories(volume / ".brindle-larder");
    EXPECT_THROW(DriveRegistration::registerDrive(volume.path(), "Blue", {server.url(), "device-1"}), Error);
    EXPECT_TRUE(server.requestsTo("/api/v1/drives").empty());
    EXPECT_FALSE(fs::exists(volume / "Larder"));
}

TEST(ExistingFilesTest, CountsFilesInNestedFoldersOnly) {
    test::TempDir volume;
    EXPECT_EQ(DriveRegistration::existingFiles(volume.path()), 0);
    test::writeFile(volume / "Larder/a.txt", "a");
    test::writeFile(volume / "Larder/.hidden", "h");
    test::writeFile(volume / "Larder/deep/er/b.txt", "b");
    fs::create_directories(volume / "Larder/empty");
    test::writeFile(volume / "outside.txt", "not counted");
    EXPECT_EQ(DriveRegistration::existingFiles(volume.path()), 3);
}

}  // namespace
}  // namespace brindle
