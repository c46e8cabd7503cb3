#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "devserver/DropboxService.h"
#include "drives/DriveMarker.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace brindle {
namespace {

namespace fs = std::filesystem;
using devserver::DevServer;
using nlohmann::json;
using Files = std::map<std::string, std::string>;  // relative path → content

const char* kStick = "5a1d0c4e-0000-4000-8000-0000000000a1";
const char* kTravel = "5a1d0c4e-0000-4000-8000-0000000000b2";

// `brindle --sync-once` against the stand-in: GitHub (a bare repository),
// Dropbox and one plugged drive, with a second drive registered but absent.
class SyncOnceEndToEnd : public ::testing::Test {
protected:
    SyncOnceEndToEnd() {
        server.start();
        server.brindle().setStores({"github", "dropbox"});
        server.brindle().setDrives({{kStick, "Stick"}, {kTravel, "Travel"}});
        test::git(temp.path().string(), {"init", "-q", "--bare", "github/demo/Larder.git"});
        fs::create_directories(temp / "volumes/STICK/Larder");
        DriveMarker::write(temp / "volumes/STICK", kStick);
        writeOld(folder / "Notes/Plan.md", "# Plan\n");
        writeOld(folder / "Grüße.txt", "hallo\n");
        writeOld(folder / "photo.bin", std::string(70000, 'p'));
    }

    static void writeOld(const fs::path& path, const std::string& content) {
        test::writeFile(path, content);
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(30));
    }

    test::ProgramResult syncOnce() {
        json account = {{"server", server.url()}, {"device_token", "device-1"}};
        return test::runBrindle({"--sync-once"}, {{"BRINDLE_TEST_ACCOUNT", account.dump()},
                                                  {"BRINDLE_URL", server.url()},
                                                  {"LARDER_FOLDER", folder.string()},
                                                  {"LARDER_STATE_DIR", (temp / "state").string()},
                                                  {"LARDER_GITHUB_BASE", "file://" + (temp / "github").string()},
                                                  {"LARDER_VOLUMES", (temp / "volumes").string()}});
    }

    static Files filesIn(const fs::path& root) {
        Files files;
        for (const auto& entry : fs::recursive_directory_iterator(root))
            if (entry.is_regular_file())
                files[entry.path().lexically_relative(root).generic_string()] = test::readFile(entry.path());
        return files;
    }
    Files filesInRepository() {
        std::string bare = (temp / "github/demo/Larder.git").string();
        Files files;
        std::string names = test::git(bare, {"-c", "core.quotePath=false", "ls-tree", "-r", "--name-only", "main"});
        for (size_t at = 0, end; (end = names.find('\n', at)) != std::string::npos; at = end + 1) {
            std::string name = names.substr(at, end - at);
            files[name] = test::git(bare, {"show", "main:" + name});
        }
        return files;
    }
    static std::vector<std::string> statuses(const json& report) {
        std::vector<std::string> lines;
        for (const json& status : report.value("status", json::array()))
            lines.push_back(status.value("store", "") + " " + status.value("state", "") +
                            (status.contains("detail") ? " " + status.value("detail", "") : ""));
        return lines;
    }
    void expectEveryStoreHolds(const Files& expected) {
        EXPECT_EQ(filesIn(folder), expected);
        EXPECT_EQ(filesInRepository(), expected);
        EXPECT_EQ(filesIn(server.dropbox().folder()), expected);
        EXPECT_EQ(filesIn(temp / "volumes/STICK/Larder"), expected);
    }

    test::IsolatedHome home;
    test::TempDir temp;
    fs::path folder = temp / "Larder";
    DevServer server;
};

TEST_F(SyncOnceEndToEnd, EveryStoreEndsWithTheSameFiles) {
    Files original = filesIn(folder);
    test::ProgramResult first = syncOnce();
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out, "Up to date.\n");

    std::vector<json> reports = server.brindle().reports();
    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(statuses(reports.front()), (std::vector<std::string>{"GitHub syncing", "Dropbox syncing", "Stick syncing",
                                                                   "Travel waiting not plugged in"}));
    EXPECT_EQ(statuses(reports.back()), (std::vector<std::string>{"GitHub synced", "Dropbox synced", "Stick synced",
                                                                  "Travel waiting not plugged in"}));
    EXPECT_EQ(server.brindle().drivesSeen(), (std::vector<std::string>{kStick}));
    expectEveryStoreHolds(original);

    // Another computer changes the Dropbox folder between passes.
    server.dropbox().writeFile("Notes/Plan.md", "# Plan\n\nedited through Dropbox\n");
    server.dropbox().writeFile("Shopping.txt", "bread\n");
    test::ProgramResult second = syncOnce();
    ASSERT_EQ(second.status, 0) << second.err;
    Files changed = original;
    changed["Notes/Plan.md"] = "# Plan\n\nedited through Dropbox\n";
    changed["Shopping.txt"] = "bread\n";
    expectEveryStoreHolds(changed);
}

}  // namespace
}  // namespace brindle
