#include <gtest/gtest.h>

#include <cstdlib>

#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "devserver/DropboxService.h"
#include "drives/DriveMarker.h"
#include "engine/DropboxDriveRuns.h"
#include "support/ScopedEnv.h"
#include "support/StandInCredentials.h"
#include "support/TempDir.h"
#include "threeway/DropboxSyncer.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;
using devserver::DevServer;

class DropboxDriveRunsTest : public ::testing::Test {
protected:
    DropboxDriveRunsTest() {
        server.start();
        account = {server.url(), "device-1"};
        plug("STICK", "aaaaaaaa-0000-4000-8000-000000000001");
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
    // Files older than a second, so the reconciler does not wait for them to settle.
    static void writeOld(const fs::path& path, const std::string& content) {
        test::writeFile(path, content);
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(10));
    }
    std::vector<DropboxDriveRuns::Run> plan(std::vector<std::string>& notPlugged) {
        std::vector<DropboxDriveRuns::Run> planned;
        runs.addDriveRuns(
            {{"aaaaaaaa-0000-4000-8000-000000000001", "Stick"}, {"bbbbbbbb-0000-4000-8000-000000000002", "Travel"}},
            account, planned, notPlugged);
        return planned;
    }

    test::TempDir temp;
    test::ScopedEnv volumes{"LARDER_VOLUMES", (temp / "volumes").string()};
    fs::path folder = temp / "Larder";
    DevServer server;
    Brindle::Account account;
    int credentialSources = 0;
    std::vector<std::pair<std::string, long long>> progress;
    DropboxDriveRuns runs{folder, temp / "state",
                          [this](const std::string& name, long long left) { progress.emplace_back(name, left); },
                          nullptr};
};

TEST_F(DropboxDriveRunsTest, PluggedDrivesRunAndOthersWait) {
    std::vector<std::string> notPlugged;
    std::vector<DropboxDriveRuns::Run> planned = plan(notPlugged);
    ASSERT_EQ(planned.size(), 1u);
    EXPECT_EQ(planned[0].name, "Stick");
    EXPECT_EQ(notPlugged, (std::vector<std::string>{"Travel"}));

    planned[0].run();
    EXPECT_EQ(test::readFile(temp / "volumes/STICK/Larder/notes.txt"), "hello");
    EXPECT_TRUE(fs::exists(temp / "state/drive-aaaaaaaa-0000-4000-8000-000000000001.json"));
    EXPECT_EQ(server.brindle().drivesSeen(), (std::vector<std::string>{"aaaaaaaa-0000-4000-8000-000000000001"}));
    ASSERT_NE(runs.syncerNamed("Stick"), nullptr);
    EXPECT_EQ(runs.syncerNamed("Stick")->takeEvents().size(), 1u);
    EXPECT_FALSE(progress.empty());
    EXPECT_EQ(runs.driveLines({"GitHub", "Stick"}, {}, notPlugged),
              (std::vector<std::string>{"Travel: not plugged in", "Stick: up to date"}));
    EXPECT_EQ(runs.driveLines({"Stick"}, {"Stick"}, {}), (std::vector<std::string>{"Stick: error"}));
}

TEST_F(DropboxDriveRunsTest, AFailedDriveRunIsNotReportedSeen) {
    fs::remove_all(temp / "volumes/STICK/Larder");
    std::vector<std::string> notPlugged;
    EXPECT_THROW(plan(notPlugged)[0].run(), std::exception);
    EXPECT_TRUE(server.brindle().drivesSeen().empty());
    EXPECT_TRUE(fs::exists(folder / "notes.txt"));
}

TEST_F(DropboxDriveRunsTest, ReconcilersFollowMountLabelAndAccount) {
    std::vector<std::string> ignored;
    plan(ignored)[0].run();
    DropboxSyncer* first = runs.syncerNamed("Stick");
    plan(ignored)[0].run();
    EXPECT_EQ(runs.syncerNamed("Stick"), first);

    fs::rename(temp / "volumes/STICK", temp / "volumes/STICK1");  // mounted somewhere else
    plan(ignored)[0].run();
    DropboxSyncer* moved = runs.syncerNamed("Stick");
    EXPECT_NE(moved, first);
    EXPECT_EQ(moved->store()->account(), "aaaaaaaa-0000-4000-8000-000000000001");
    EXPECT_TRUE(moved->takeEvents().empty());  // same state file: nothing to copy again

    runs.dropboxRun(account).run();
    runs.dropboxRun(account).run();
    EXPECT_EQ(credentialSources, 1);
    EXPECT_EQ(server.dropbox().readFile("notes.txt"), "hello");
    runs.dropboxRun({server.url(), "device-2"}).run();
    EXPECT_EQ(credentialSources, 2);
    runs.reset();
    EXPECT_EQ(runs.syncerNamed("Dropbox"), nullptr);
    EXPECT_EQ(runs.syncerNamed("Stick"), nullptr);
}

}  // namespace
}  // namespace brindle
