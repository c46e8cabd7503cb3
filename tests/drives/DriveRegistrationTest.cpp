#include "drives/DriveRegistration.h"

#include <regex>

#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "drives/DriveMarker.h"
#include "support/Expect.h"
#include "support/TempDir.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;
using devserver::Fault;

class DriveRegistrationTest : public ::testing::Test {
protected:
    DriveRegistrationTest() { server.start(); }
    std::string add() { return DriveRegistration::registerDrive(volume.path(), "Blue", {server.url(), "device-1"}); }
    std::vector<std::string> registeredIds() {
        std::vector<std::string> ids;
        for (const auto& [id, label] : server.brindle().drives()) ids.push_back(id);
        return ids;
    }

    test::TempDir volume;
    devserver::DevServer server;
};

TEST_F(DriveRegistrationTest, MarksCreatesAndRegistersOnceThenReusesTheIdentifier) {
    std::string id = add();
    EXPECT_TRUE(std::regex_match(id, std::regex("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}")));
    EXPECT_EQ(DriveMarker::read(volume.path()), id);
    EXPECT_TRUE(fs::is_directory(volume / "Larder"));
    std::string marker = test::readFile(volume / ".brindle-larder");
    EXPECT_EQ(add(), id);
    EXPECT_EQ(test::readFile(volume / ".brindle-larder"), marker);  // not rewritten
    EXPECT_EQ(registeredIds(), (std::vector<std::string>{id}));
    EXPECT_EQ(server.requestsTo("/api/v1/drives").size(), 2u);
}

TEST_F(DriveRegistrationTest, ServiceRefusalsKeepTheMarkerForTheNextAttempt) {
    server.injectFault("/api/v1/drives", {Fault::Kind::Status, 409, R"({"error":"too_many_drives"})", {}});
    EXPECT_THROW_WITH(add(), std::exception,
                      "You already have the most drives Brindle can keep. Remove one on the Connections page first.");
    std::optional<std::string> marked = DriveMarker::read(volume.path());
    server.injectFault("/api/v1/drives", {Fault::Kind::Status, 409, R"({"error":"other"})", {}});
    EXPECT_THROW_WITH(add(), std::exception, "Brindle couldn't add the drive (HTTP 409).");
    EXPECT_EQ(marked, add());
    EXPECT_EQ(registeredIds(), (std::vector<std::string>{*marked}));
}

// Given a marker that cannot be written (a folder in its place, which stops
// root as well as a read-only volume would), then nothing is registered.
TEST_F(DriveRegistrationTest, UnwritableMarkerFailsWithoutAsking) {
    fs::create_directories(volume / ".brindle-larder");
    EXPECT_THROW(add(), Error);
    EXPECT_TRUE(server.requestsTo("/api/v1/drives").empty());
    EXPECT_FALSE(fs::exists(volume / "Larder"));
}

TEST_F(DriveRegistrationTest, ExistingFilesCountsFilesInNestedFoldersOnly) {
    EXPECT_EQ(DriveRegistration::existingFiles(volume.path()), 0);
    for (auto path : {"Larder/a.txt", "Larder/.hidden", "Larder/deep/er/b.txt", "outside.txt"})
        test::writeFile(volume / path, "x");
    fs::create_directories(volume / "Larder/empty");
    EXPECT_EQ(DriveRegistration::existingFiles(volume.path()), 3);
}

}  // namespace
}  // namespace brindle
