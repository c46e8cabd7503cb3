#include <gtest/gtest.h>

#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "devserver/DropboxService.h"
#include "drives/DriveMarker.h"
#include "engine/DropboxDriveRuns.h"
#include "engine/SyncEngine.h"
#include "support/ScopedEnv.h"
#include "support/StandInCredentials.h"
#include "support/TempDir.h"
#include "threeway/DropboxSyncer.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;
using devserver::DevServer;

constexpr const char* kStick = "aaaaaaaa-0000-4000-8000-000000000001";
constexpr const char* kTwin = "cccccccc-0000-4000-8000-000000000003";

class DropboxDriveRunsTest : public ::testing::Test {
protected:
    DropboxDriveRunsTest() {
        server.start();
        account = {server.url(), "device-1"};
        plug("STICK", kStick);
        writeOld(folder / "notes.txt", "hello");
        runs.setPause([](double) {});
        runs.setCredentialsMaker([this](const Brindle::Account&) {
            ++credentialSources;
            return std::make_shared<test::StandInCredentials>(server);
        });
    }

    void plug(const std::string& name, const std::string& id) {
        fs::create_directories(temp / "volumes" / name / "Larder");
        DriveMarker::write(temp / "volumes" / name, id);
    }
    static void writeOld(const fs::path& path, const std::string& content) {
        test::writeFile(path, content);
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(10));
    }
    StoreRuns plan(std::vector<std::string>& notPlugged) {
        StoreRuns planned;
        runs.addDriveRuns({{kStick, "Stick"}, {"bbbbbbbb-0000-4000-8000-000000000002", "Travel"}}, account, planned,
                          notPlugged);
        return planned;
    }

    test::IsolatedHome home;  // deletions go to its Trash
    test::TempDir temp;
    test::ScopedEnv volumes{"LARDER_VOLUMES", (temp / "volumes").string()};
    fs::path folder = temp / "Larder";
    DevServer server;
    Brindle::Account account;
    int credentialSources = 0;
    std::vector<std::pair<std::string, long long>> progress;
    DropboxDriveRuns runs{folder, temp / "state",
                          [this](StoreRun& run, long long left) { progress.emplace_back(run.name(), left); }, nullptr};
};

// Two drives with one label, one labelled like another store, one not plugged in.
TEST_F(DropboxDriveRunsTest, PluggedDrivesRunWithTheirOwnEventsAndOthersWait) {
    plug("TWIN", kTwin);
    plug("FAKE", "dddddddd-0000-4000-8000-000000000004");
    writeOld(temp / "volumes/TWIN/Larder/twin.txt", "twin");
    StoreRuns planned;
    std::vector<std::string> notPlugged;
    runs.addDriveRuns({{kStick, "Stick"},
                       {kTwin, "Stick"},
                       {"dddddddd-0000-4000-8000-000000000004", "Dropbox"},
                       {"bbbbbbbb-0000-4000-8000-000000000002", "Travel"}},
                      account, planned, notPlugged);
    ASSERT_EQ(planned.size(), 3u);
    EXPECT_EQ(notPlugged, (std::vector<std::string>{"Travel"}));
    planned[0]->run();
    planned[1]->run();
    EXPECT_EQ(test::readFile(temp / "volumes/STICK/Larder/notes.txt"), "hello");
    EXPECT_TRUE(fs::exists(temp / ("state/drive-" + std::string(kStick) + ".json")));
    EXPECT_EQ(server.brindle().drivesSeen(), (std::vector<std::string>{kStick, kTwin}));
    std::string events;  // notes.txt up; notes.txt up and twin.txt down; not run yet
    for (auto& run : planned) events += std::to_string(run->takeEvents().size());
    EXPECT_EQ(events, "120");
    EXPECT_EQ(planned[0]->totals()->files, 1);
    EXPECT_FALSE(progress.empty());
    std::vector<RunFailure> failures{{planned[1].get(), nullptr, "x"}};
    EXPECT_EQ(SyncEngine::driveLinesFor(planned, failures, notPlugged),
              (std::vector<std::string>{"Travel: not plugged in", "Stick: up to date", "Stick: error",
                                        "Dropbox: up to date"}));
}

TEST_F(DropboxDriveRunsTest, AFailedDriveRunIsNotReportedSeen) {
    fs::remove_all(temp / "volumes/STICK/Larder");
    std::vector<std::string> notPlugged;
    EXPECT_THROW(plan(notPlugged)[0]->run(), std::exception);
    EXPECT_TRUE(server.brindle().drivesSeen().empty());
    EXPECT_TRUE(fs::exists(folder / "notes.txt"));
}

TEST_F(DropboxDriveRunsTest, ReconcilersFollowTheDriveNotItsMountAndTheAccount) {
    std::vector<std::string> ignored;
    plan(ignored)[0]->run();
    fs::rename(temp / "volumes/STICK", temp / "volumes/STICK1");  // mounted somewhere else
    StoreRuns moved = plan(ignored);
    moved[0]->run();
    EXPECT_TRUE(moved[0]->takeEvents().empty());  // same state file: nothing to copy again
    runs.dropboxRun(account)->run();
    runs.dropboxRun(account)->run();
    EXPECT_EQ(credentialSources, 1);  // one Dropbox reconciler per account
    EXPECT_EQ(server.dropbox().readFile("notes.txt"), "hello");
}

}  // namespace
}  // namespace brindle
