#include "StandInCredentials.h"

#include "dropbox/DropboxAPI.h"
#include "common/DropboxHash.h"
#include "common/IsoDate.h"
#include "support/TempDir.h"
#include "threeway/DropboxFailure.h"
#include "threeway/DropboxSyncer.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

namespace brindle {
namespace {

namespace fs = std::filesystem;
using devserver::DevServer;
using devserver::Fault;

// The reconciler driving the Dropbox client against the stand-in, as the
// engine's Dropbox run does: 6 workers, pauses recorded instead of slept.
class DropboxSyncTest : public ::testing::Test {
protected:
    DropboxSyncTest() {
        server.start();
        auto api = std::make_shared<DropboxAPI>(std::make_shared<test::StandInCredentials>(server), [this](double) { ++pauses; });
        syncer = std::make_unique<DropboxSyncer>(folder, temp / "state/dropbox.json", api, "Dropbox", 104857600, 6);
        // Files written by the test are never "busy" (changed under a second ago).
        syncer->setClock([] { return IsoDate::nowSeconds() + 60; });
        syncer->setLog([](const std::string&) {});
    }

    // Every file under root (relative path → content hash), leaving out none.
    static std::map<std::string, std::string> hashes(const fs::path& root) {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(root))
            if (entry.is_regular_file())
                files[entry.path().lexically_relative(root).generic_string()] =
                    DropboxHash::ofBytes(test::readFile(entry.path()));
        return files;
    }

    static Fault status(int code, std::map<std::string, std::string> headers = {}) {
        return Fault{Fault::Kind::Status, code, "", std::move(headers)};
    }
    static Fault kind(Fault::Kind kind) {
        Fault fault;
        fault.kind = kind;
        return fault;
    }

    test::IsolatedHome home;  // deletions go to its Trash
    test::TempDir temp;
    fs::path folder = temp / "Larder";
    DevServer server;
    std::atomic<int> pauses{0};
    std::unique_ptr<DropboxSyncer> syncer;
};

// Given every fifth request failing in turns of 429, 503, a dropped
// connection and a cut-off answer, then 500 files still arrive intact on both
// sides, and while anything fails the pass says so with its summary.
TEST_F(DropboxSyncTest, FaultsNeverCorruptOrLoseFiles) {
    for (int i = 0; i < 250; ++i) {
        test::writeFile(folder / ("up/" + std::to_string(i % 10) + "/local-" + std::to_string(i) + ".txt"),
                        "local file " + std::to_string(i) + std::string(size_t(i) * 37, 'l'));
        server.dropbox().writeFile("down/" + std::to_string(i % 10) + "/remote-" + std::to_string(i) + ".txt",
                                   "remote file " + std::to_string(i) + std::string(size_t(i) * 41, 'r'));
    }
    server.injectEvery("/2/files/", 5, {status(429, {{"Retry-After", "3"}}), status(503), kind(Fault::Kind::Drop),
                                        kind(Fault::Kind::Truncate)});
    // Then the next few uploads fail outright, so at least one file fails for this pass.
    server.injectFault("/2/files/upload", status(503), 24);

    std::vector<std::string> failures;
    for (int round = 0; round < 8; ++round) {
        try {
            syncer->sync();
            break;
        } catch (const DropboxFailure& failure) {
            failures.push_back(failure.what());
        }
        if (round == 3) server.clearFaults();
    }
    ASSERT_FALSE(failures.empty());
    for (const std::string& failure : failures)
        EXPECT_NE(failure.find("could not be synced; will retry. First: "), std::string::npos) << failure;
    EXPECT_NO_THROW(syncer->sync());

    std::map<std::string, std::string> local = hashes(folder);
    EXPECT_EQ(local.size(), 500u);
    EXPECT_EQ(local, hashes(server.dropbox().folder()));
    for (const auto& [path, hash] : local) EXPECT_EQ(path.find(".brindle-tmp-"), std::string::npos) << path;
    EXPECT_GT(pauses.load(), 0);
}

// Given a listing naming paths outside the folder, then nothing is written
// outside it; an absolute path lands inside the folder like any other.
TEST_F(DropboxSyncTest, HostilePathsStayInsideTheFolder) {
    std::string passwd = test::readFile("/etc/passwd");
    struct stat before {};
    ::stat("/etc/passwd", &before);
    server.dropbox().writeFile("etc/passwd", passwd);  // so a download of it would succeed
    nlohmann::json listing = {{"has_more", false}, {"cursor", ""}, {"entries", nlohmann::json::array()}};
    for (std::string path : {"/../../x", "/etc/passwd", "/../outside.txt"})
        listing["entries"].push_back({{".tag", "file"}, {"path_display", path}, {"rev", "0123456789abc"},
                                      {"size", passwd.size()}, {"content_hash", DropboxHash::ofBytes(passwd)},
                                      {"server_modified", "2025-03-01T09:30:00Z"}});
    server.injectFault("/2/files/list_folder", Fault{Fault::Kind::Status, 200, listing.dump(), {}});

    try {
        syncer->sync();
    } catch (const DropboxFailure&) {
    }
    EXPECT_FALSE(fs::exists(temp / "x"));
    EXPECT_FALSE(fs::exists(temp / "outside.txt"));
    EXPECT_FALSE(fs::exists(temp.path().parent_path() / "x"));
    struct stat after {};
    ::stat("/etc/passwd", &after);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(test::readFile(folder / "etc/passwd"), passwd);
}

}  // namespace
}  // namespace brindle
