#include <gtest/gtest.h>

#include <fstream>

#include "GitTestSupport.h"
#include "common/ConflictName.h"
#include "git/Syncer.h"

using namespace brindle;
using namespace brindle::test;
namespace fs = std::filesystem;

// A computer whose folder holds only files that are never committed takes
// the remote's tree by a hard reset; those files must survive it.
TEST(AdoptRemoteTest, UncommittedLocalFilesInTheWayAreMovedAsideNotOverwritten) {
    constexpr std::time_t kNoon = 1773835200;
    GitSandbox sandbox;
    std::string remote = sandbox.makeRemote();
    Computer a{sandbox, "Mac A", remote}, b{sandbox, "Mac B", remote};
    a.write("video.mp4", "short clip");
    a.write("notes", "a file where B has a folder");
    a.write("~$drafts/plan.md", "a folder where B has an ignored file");
    a.syncer->sync();
    a.git({"add", "-f", "--", "~$drafts/plan.md"});  // an ignored name, committed all the same
    a.syncer->sync();
    // given B's over-limit video, a folder holding only an ignored file, and
    // an ignored file, each where the remote has something else
    fs::create_directories(b.folder);
    std::ofstream(b.folder / "video.mp4").close();
    fs::resize_file(b.folder / "video.mp4", Syncer::kLargeFileLimit + 1);
    b.write("notes/.DS_Store", "finder state");
    b.write("~$drafts", "lock file");
    b.syncer->setClock([] { return kNoon; });
    auto copyOf = [&](const std::string& path) {
        return ConflictName::make(b.folder, path, "Mac B", ConflictName::stamp(kNoon));
    };
    const std::string video = copyOf("video.mp4"), notes = copyOf("notes"), drafts = copyOf("~$drafts");

    b.syncer->sync();

    EXPECT_EQ(b.read("video.mp4"), "short clip");
    EXPECT_EQ(fs::file_size(b.folder / video), static_cast<uintmax_t>(Syncer::kLargeFileLimit + 1));
    EXPECT_EQ(b.read("notes"), "a file where B has a folder");
    EXPECT_EQ(b.read(notes + "/.DS_Store"), "finder state");
    EXPECT_EQ(b.read("~$drafts/plan.md"), "a folder where B has an ignored file");
    EXPECT_EQ(b.read(drafts), "lock file");
    EXPECT_NE(sandbox.log().find("Kept this computer's video.mp4 as " + video), std::string::npos);
}
