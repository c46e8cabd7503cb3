#include <gtest/gtest.h>

#include <fstream>

#include "GitTestSupport.h"
#include "common/ConflictName.h"
#include "git/Syncer.h"

using namespace brindle;
using namespace brindle::test;
namespace fs = std::filesystem;

namespace {

constexpr std::time_t kNoon = 1773835200;

}  // namespace

// A computer whose folder holds only files that are never committed takes
// the remote's tree by a hard reset; those files must survive it.
class AdoptRemoteTest : public ::testing::Test {
protected:
    void SetUp() override {
        b.syncer->setClock([] { return kNoon; });
        a.write("video.mp4", "short clip");
        a.write("same.txt", "same");
        a.write("notes", "a file where B has a folder");
        a.write("photos/cat.jpg", "cat");
        a.syncer->sync();
    }
    std::string copyOf(const std::string& path) const {
        return ConflictName::make(b.folder, path, "Mac B", ConflictName::stamp(kNoon));
    }

    GitSandbox sandbox;
    std::string remote = sandbox.makeRemote();
    Computer a{sandbox, "Mac A", remote};
    Computer b{sandbox, "Mac B", remote};
};

TEST_F(AdoptRemoteTest, UncommittedLocalFilesAreMovedAsideNotOverwritten) {
    // given B's over-limit video, and a folder holding only an ignored file
    // where the remote has a file
    fs::create_directories(b.folder);
    std::ofstream(b.folder / "video.mp4").close();
    fs::resize_file(b.folder / "video.mp4", Syncer::kLargeFileLimit + 1);
    b.write("notes/.DS_Store", "finder state");

    std::string videoCopy = copyOf("video.mp4"), notesCopy = copyOf("notes");
    b.syncer->sync();

    EXPECT_EQ(b.read("video.mp4"), "short clip");
    EXPECT_EQ(fs::file_size(b.folder / videoCopy), static_cast<uintmax_t>(Syncer::kLargeFileLimit + 1));
    EXPECT_EQ(b.read("notes"), "a file where B has a folder");
    EXPECT_EQ(b.read(notesCopy + "/.DS_Store"), "finder state");
    EXPECT_EQ(b.read("photos/cat.jpg"), "cat");
    EXPECT_NE(sandbox.log().find("Kept this computer's video.mp4 as " + videoCopy), std::string::npos);
}

TEST_F(AdoptRemoteTest, FileInTheWayOfARemoteFolderIsKept) {
    // given an ignored name that B holds as a file where the remote has a folder
    a.write("~$drafts/plan.md", "plan");
    a.git({"add", "-f", "--", "~$drafts/plan.md"});
    a.syncer->sync();
    b.write("~$drafts", "B's lock file");
    std::string copy = copyOf("~$drafts");

    b.syncer->sync();

    EXPECT_EQ(b.read("~$drafts/plan.md"), "plan");
    EXPECT_EQ(b.read(copy), "B's lock file");
}

TEST_F(AdoptRemoteTest, IdenticalUntrackedFileStaysInPlaceWithoutACopy) {
    a.write("~$shared.docx", "same bytes");
    a.git({"add", "-f", "--", "~$shared.docx"});
    a.syncer->sync();
    b.write("~$shared.docx", "same bytes");

    b.syncer->sync();

    EXPECT_EQ(b.read("~$shared.docx"), "same bytes");
    EXPECT_EQ(b.files().size(), a.files().size());
}
