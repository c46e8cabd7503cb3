#include <gtest/gtest.h>

#include <fstream>

#include "GitTestSupport.h"
#include "common/ConflictName.h"
#include "support/Expect.h"

namespace brindle::test {
namespace {

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
    EXPECT_EQ(fs::file_size(b.folder / video), static_cast<uintmax_t>(Syncer::kLargeFileLimit + 1));
    Tree expected{{"video.mp4", "short clip"},
                   {"notes", "a file where B has a folder"},
                   {"~$drafts/plan.md", "a folder where B has an ignored file"},
                   {notes + "/.DS_Store", "finder state"},
                   {drafts, "lock file"}};
    Tree found = filesIn(b.folder);
    EXPECT_EQ(found.erase(video), 1u);
    EXPECT_EQ(found, expected);
    EXPECT_THAT(sandbox.log(), HasSubstr("Kept this computer's video.mp4 as " + video));
}

}  // namespace
}  // namespace brindle::test
