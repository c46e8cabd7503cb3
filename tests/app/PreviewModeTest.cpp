// `brindle --preview` over GitHub (a bare repository), the stand-in's Dropbox
// and a plugged drive with changes of every kind pending: each action is
// listed once, and nothing anywhere changes.

#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "devserver/DropboxService.h"
#include "drives/DriveMarker.h"
#include "support/DriveProgram.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

namespace brindle {
namespace {

namespace fs = std::filesystem;
using devserver::DevServer;
using nlohmann::json;
using Files = std::map<std::string, std::string>;  // path under temp -> content

class PreviewMode : public test::DriveProgram {
protected:
    PreviewMode() : DriveProgram({"github", "dropbox"}) {
        test::git(temp.path().string(), {"init", "-q", "--bare", "github/demo/Larder.git"});
    }

    // Every file and folder under the test's folder (the Larder folder, the
    // drive, the state folder, the stand-in's data) with content and time.
    Files everything() const {
        Files files;
        for (const auto& entry : fs::recursive_directory_iterator(temp.path())) {
            std::string name = entry.path().lexically_relative(temp.path()).generic_string();
            auto time = std::to_string(entry.last_write_time().time_since_epoch().count());
            files[name] = entry.is_regular_file() ? test::readFile(entry.path()) + "@" + time : "folder";
        }
        return files;
    }
};

TEST_F(PreviewMode, ListsEveryPendingActionOnceAndChangesNothing) {
    for (auto name : {"edited.md", "gone-here.md", "gone-db.md", "gone-stick.md", "both.md"})
        writeOld(folder / name, "old");
    ASSERT_EQ(brindle({"--sync-once"}).status, 0);

    writeOld(folder / "new.md", "new");
    writeOld(folder / "edited.md", "edited here");
    fs::remove(folder / "gone-here.md");
    server.dropbox().deleteFile("gone-db.md");
    server.dropbox().writeFile("from-db.md", "db");
    fs::remove(drive / "gone-stick.md");
    writeOld(folder / "both.md", "here");
    writeOld(drive / "both.md", "on the stick");
    {
        // A sparse file just over Dropbox's size limit: Dropbox skips it, the drive takes it.
        std::ofstream big(folder / "huge.bin");
        big.seekp(100 * 1048576LL);
        big.put('x');
    }
    fs::last_write_time(folder / "huge.bin", fs::file_time_type::clock::now() - std::chrono::seconds(30));

    Files before = everything();
    size_t requestsBefore = server.requests().size();
    test::ProgramResult preview = brindle({"--preview"});
    ASSERT_EQ(preview.status, 0) << preview.err;
    EXPECT_EQ(preview.out,
              "Dropbox: delete here gone-db.md\n"
              "Dropbox: delete in Dropbox gone-here.md\n"
              "Dropbox: download from-db.md\n"
              "Dropbox: skip: too big huge.bin\n"
              "Dropbox: upload both.md\n"
              "Dropbox: upload edited.md\n"
              "Dropbox: upload new.md\n"
              "GitHub: delete in GitHub gone-here.md\n"
              "GitHub: skip: too big huge.bin\n"
              "GitHub: upload both.md\n"
              "GitHub: upload edited.md\n"
              "GitHub: upload new.md\n"
              "Stick: conflict copy both.md\n"
              "Stick: delete here gone-stick.md\n"
              "Stick: delete in Stick gone-here.md\n"
              "Stick: upload edited.md\n"
              "Stick: upload huge.bin\n"
              "Stick: upload new.md\n"
              "Dropbox: 7 action(s)\n"
              "GitHub: 5 action(s)\n"
              "Stick: 6 action(s)\n");
    EXPECT_EQ(everything(), before);
    std::vector<devserver::Recorded> requests = server.requests();
    for (size_t at = requestsBefore; at < requests.size(); ++at) {
        const std::string& path = requests[at].path;
        EXPECT_TRUE(path.starts_with("/2/files/list_folder") || path == "/api/v1/config" ||
                    path == "/api/v1/github/token" || path == "/api/v1/larder/token" ||
                    (path == "/api/v1/drives" && requests[at].method == "GET"))
            << requests[at].method << " " << path;
    }
    EXPECT_EQ(brindle({"--preview"}).out, preview.out) << "stable from run to run";
}

}  // namespace
}  // namespace brindle
