#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "GitTestSupport.h"
#include "common/ConflictName.h"
#include "common/Text.h"
#include "service/GitHubError.h"
#include "support/Expect.h"
#include "support/RunProgram.h"
#include "support/ScopedEnv.h"

using namespace brindle;
using namespace brindle::test;
namespace fs = std::filesystem;

namespace {

constexpr std::time_t kNoon = 1773835200;  // a fixed moment for conflict stamps

size_t occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

void makeSparse(const fs::path& path, long long size) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).close();
    fs::resize_file(path, static_cast<uintmax_t>(size));
}

void writeHook(const fs::path& gitDir, const std::string& name, const std::string& script) {
    fs::create_directories(gitDir / "hooks");
    writeFile(gitDir / "hooks" / name, "#!/bin/sh\n" + script);
    fs::permissions(gitDir / "hooks" / name, fs::perms::owner_all);
}

}  // namespace

class GitSyncerTest : public ::testing::Test {
protected:
    void SetUp() override {
        a.syncer->setClock([] { return kNoon; });
        b.syncer->setClock([] { return kNoon; });
    }
    std::string stamp() const { return ConflictName::stamp(kNoon); }

    GitSandbox sandbox;
    std::string remote = sandbox.makeRemote();
    Computer a{sandbox, "Mac A", remote};
    Computer b{sandbox, "Lab/B", remote};
};

TEST_F(GitSyncerTest, FirstPushThenAnEmptyComputerAdoptsTheRemote) {
    a.write("one.txt", "1");
    a.write("notes/plan.md", "plan");
    a.syncer->sync();
    EXPECT_THAT(sandbox.log(), HasSubstr("Pushed 1 commit(s)"));
    EXPECT_EQ(a.syncer->events(),
              (std::vector<SyncEvent>{{"uploaded", "notes/plan.md", 4}, {"uploaded", "one.txt", 1}}));
    EXPECT_EQ(remoteFiles(remote), (std::vector<std::string>{"notes/plan.md", "one.txt"}));
    EXPECT_THAT(a.git({"log", "-1", "--format=%an <%ae> %s"}), HasSubstr("Mac A <larder@Mac-A.local> Mac A: 2 added"));

    b.syncer->sync();
    EXPECT_THAT(sandbox.log(), HasSubstr("Downloaded existing Larder contents"));
    EXPECT_EQ(b.read("notes/plan.md"), "plan");
    EXPECT_EQ(b.syncer->events(),
              (std::vector<SyncEvent>{{"downloaded", "notes/plan.md", 0}, {"downloaded", "one.txt", 0}}));
}

TEST_F(GitSyncerTest, NothingChangedMakesNoCommitNoPushAndNoEvents) {
    a.write("one.txt", "1");
    a.syncer->sync();
    std::string head = a.git({"rev-parse", "HEAD"});
    std::string logBefore = sandbox.log();
    a.syncer->sync();
    EXPECT_EQ(a.git({"rev-parse", "HEAD"}), head);
    EXPECT_EQ(sandbox.log(), logBefore);
    EXPECT_TRUE(a.syncer->events().empty());
    auto totals = a.syncer->totals();
    ASSERT_TRUE(totals);
    EXPECT_EQ(totals->files, 1);
    EXPECT_EQ(totals->bytes, 1);
}

TEST_F(GitSyncerTest, UnrelatedFirstCommitsAreMergedAndEveryoneEndsWithEverything) {
    a.write("from-a.txt", "a");
    b.write("from-b.txt", "b");
    a.syncer->sync();
    b.syncer->sync();
    EXPECT_THAT(sandbox.log(), HasSubstr("Merged remote changes"));
    a.syncer->sync();
    EXPECT_EQ(a.files(), (std::vector<std::string>{"from-a.txt", "from-b.txt"}));
    EXPECT_EQ(b.files(), a.files());
    EXPECT_EQ(a.syncer->events(), (std::vector<SyncEvent>{{"downloaded", "from-b.txt", 1}}));
}

TEST_F(GitSyncerTest, BothEditingAFileKeepsBothAsAConflictCopy) {
    a.write("notes/plan.md", "base");
    a.syncer->sync();
    b.syncer->sync();
    a.write("notes/plan.md", "from A");
    b.write("notes/plan.md", "from B");
    a.syncer->sync();
    b.syncer->sync();

    const std::string copy = "notes/plan (conflict from Mac A " + stamp() + ").md";
    EXPECT_EQ(b.read("notes/plan.md"), "from B");
    EXPECT_EQ(b.read(copy), "from A");
    EXPECT_THAT(sandbox.log(), HasSubstr("Conflict on notes/plan.md: kept both, other version saved as " + copy));
    EXPECT_THAT(sandbox.log(), HasSubstr("Merged remote changes with 1 conflict(s)"));
    EXPECT_EQ(b.git({"log", "-1", "--format=%s"}), "Lab/B: merge\n");
    EXPECT_THAT(b.git({"ls-tree", "-r", "--name-only", "HEAD"}), HasSubstr(copy));
    a.syncer->sync();
    EXPECT_EQ(a.read("notes/plan.md"), "from B");
    EXPECT_EQ(a.read(copy), "from A");
    EXPECT_EQ(a.files(), b.files());
}

TEST_F(GitSyncerTest, AnEditBeatsADeleteInEitherDirection) {
    a.write("kept-by-a.txt", "base");
    a.write("kept-by-b.txt", "base");
    a.syncer->sync();
    b.syncer->sync();
    a.write("kept-by-a.txt", "edited on A");
    fs::remove(a.folder / "kept-by-b.txt");
    fs::remove(b.folder / "kept-by-a.txt");
    b.write("kept-by-b.txt", "edited on B");
    a.syncer->sync();
    b.syncer->sync();
    a.syncer->sync();
    for (const Computer* computer : {&a, &b}) {
        EXPECT_EQ(computer->read("kept-by-a.txt"), "edited on A");
        EXPECT_EQ(computer->read("kept-by-b.txt"), "edited on B");
    }
    EXPECT_EQ(occurrences(sandbox.log(), "edited on one Mac, deleted on another — kept the file"), 2u);
}

TEST_F(GitSyncerTest, ARenameIsReportedAsAnUploadUnderTheNewName) {
    a.write("old name.txt", "same content here");
    a.syncer->sync();
    fs::rename(a.folder / "old name.txt", a.folder / "new name.txt");
    a.syncer->sync();
    EXPECT_EQ(a.syncer->events(), (std::vector<SyncEvent>{{"uploaded", "new name.txt", 17}}));
    EXPECT_THAT(sandbox.log(), HasSubstr("Committed local changes: 1 changed"));
    b.syncer->sync();
    EXPECT_EQ(b.files(), (std::vector<std::string>{"new name.txt"}));
}

TEST_F(GitSyncerTest, DownloadsAndDeletionsFromAnotherComputerAreEvents) {
    a.write("stays.txt", "1");
    a.write("goes.txt", "1");
    a.syncer->sync();
    b.syncer->sync();
    a.write("stays.txt", "12345");
    fs::remove(a.folder / "goes.txt");
    a.syncer->sync();
    b.syncer->sync();
    EXPECT_EQ(b.syncer->events(), (std::vector<SyncEvent>{{"deleted", "goes.txt", 0}, {"downloaded", "stays.txt", 5}}));
}

TEST_F(GitSyncerTest, EventsStopAt200ButTheCommitCountsEverything) {
    for (int i = 0; i < 230; ++i) a.write("many/" + std::to_string(1000 + i), "x");
    a.syncer->sync();
    EXPECT_EQ(a.syncer->events().size(), kMaxHeldEvents);
    EXPECT_THAT(a.git({"log", "-1", "--format=%s"}), HasSubstr("Mac A: 230 added"));
    b.syncer->sync();
    EXPECT_EQ(b.syncer->events().size(), kMaxHeldEvents);
}

TEST_F(GitSyncerTest, AnotherComputerPushingBeforeOurPushIsMergedAndRetried) {
    a.write("shared.txt", "base");
    a.syncer->sync();
    b.syncer->sync();
    // given a hook that makes B push just before A's push, once
    writeHook(a.gitDir, "pre-push",
              "[ -e \"$0.done\" ] && exit 0\ntouch \"$0.done\"\nunset GIT_DIR GIT_WORK_TREE\n"
              "cd '" +
                  b.folder.string() + "' && echo race > race.txt && git --git-dir='" + b.gitDir.string() +
                  "' add -A && git --git-dir='" + b.gitDir.string() + "' commit -qm race && git --git-dir='" +
                  b.gitDir.string() + "' push -q origin HEAD:refs/heads/main\n");
    a.write("mine.txt", "mine");
    a.syncer->sync();
    EXPECT_THAT(sandbox.log(), HasSubstr("Push rejected (attempt 1): "));
    EXPECT_THAT(sandbox.log(), HasSubstr("Pushed 2 commit(s)"));
    EXPECT_EQ(remoteFiles(remote), (std::vector<std::string>{"mine.txt", "race.txt", "shared.txt"}));
    EXPECT_EQ(a.read("race.txt"), "race\n");
}

TEST_F(GitSyncerTest, FourRejectedPushesGiveUpWithAPushError) {
    writeHook(a.gitDir, "pre-push", "exit 1\n");
    a.write("one.txt", "1");
    EXPECT_THROW_WITH(a.syncer->sync(), GitHubError, "Could not push after several attempts; will retry.");
    EXPECT_THAT(sandbox.log(), HasSubstr("Push rejected (attempt 4)"));
    EXPECT_THAT(sandbox.log(), Not(HasSubstr("attempt 5")));
    // The commit stays and goes out with the next pass that can push.
    fs::remove(a.gitDir / "hooks" / "pre-push");
    a.syncer->sync();
    EXPECT_EQ(remoteFiles(remote), (std::vector<std::string>{"one.txt"}));
}

TEST_F(GitSyncerTest, FilesOver95MBAreLeftOutAndNamedOncePerChange) {
    makeSparse(a.folder / "exact.bin", Syncer::kLargeFileLimit);
    makeSparse(a.folder / "big.bin", Syncer::kLargeFileLimit + 1);
    a.write("small.txt", "s");
    a.syncer->sync();
    EXPECT_EQ(remoteFiles(remote), (std::vector<std::string>{"exact.bin", "small.txt"}));
    EXPECT_EQ(a.syncer->skippedFiles(), (std::vector<std::string>{"big.bin"}));
    a.syncer->sync();
    EXPECT_EQ(occurrences(sandbox.log(), "Skipping files over 95 MB: big.bin"), 1u);

    // A committed file that grows past the limit keeps its committed version.
    fs::resize_file(a.folder / "exact.bin", Syncer::kLargeFileLimit + 10);
    a.syncer->sync();
    EXPECT_EQ(occurrences(sandbox.log(), "Skipping files over 95 MB: "), 2u);
    EXPECT_THAT(a.git({"ls-tree", "-l", "HEAD", "exact.bin"}), HasSubstr(std::to_string(Syncer::kLargeFileLimit)));
}

TEST_F(GitSyncerTest, ACloudPlaceholderKeepsItsFileInTheRepository) {
    a.write("docs/report.pdf", "pdf");
    a.write(".icloud", "not a placeholder");
    a.syncer->sync();
    fs::remove(a.folder / "docs/report.pdf");
    a.write("docs/.report.pdf.icloud", "placeholder");
    Syncer::Exclusions found = a.syncer->scanForExclusions();
    EXPECT_EQ(found.excludes, (std::vector<std::string>{"docs/report.pdf"}));
    a.syncer->sync();
    EXPECT_EQ(remoteFiles(remote), (std::vector<std::string>{"docs/report.pdf"}));
}

TEST_F(GitSyncerTest, ADeletedFolderIsRestoredNotDeletedEverywhere) {
    a.write("notes/keep.md", "keep");
    a.syncer->sync();
    fs::remove_all(a.folder);
    a.syncer->sync();
    EXPECT_EQ(a.read("notes/keep.md"), "keep");
    EXPECT_THAT(sandbox.log(), HasSubstr("Folder was missing; restored contents from last sync"));
    EXPECT_EQ(remoteFiles(remote), (std::vector<std::string>{"notes/keep.md"}));
}

TEST_F(GitSyncerTest, AMergeThatFailsWithoutAConflictIsAbortedAndReported) {
    a.write("base.txt", "base");
    a.syncer->sync();
    b.syncer->sync();
    a.write("video.bin", "small on A");
    a.syncer->sync();
    // given B holds a file of that name that is too big to commit
    makeSparse(b.folder / "video.bin", Syncer::kLargeFileLimit + 1);
    b.write("other.txt", "local change");
    EXPECT_THAT([&] { b.syncer->sync(); }, ::testing::ThrowsMessage<GitError>(::testing::AllOf(
                                               StartsWith("git merge failed: "), HasSubstr("video.bin"))));
    EXPECT_EQ(fs::file_size(b.folder / "video.bin"), static_cast<uintmax_t>(Syncer::kLargeFileLimit + 1));
    EXPECT_FALSE(fs::exists(b.gitDir / "MERGE_HEAD"));
    EXPECT_THROW(b.syncer->sync(), GitError);
    EXPECT_EQ(fs::file_size(b.folder / "video.bin"), static_cast<uintmax_t>(Syncer::kLargeFileLimit + 1));
}

TEST_F(GitSyncerTest, NamesDifferingOnlyInCaseAreBothKept) {
    a.write("Notes.md", "upper");
    a.syncer->sync();
    a.write("notes.md", "lower");
    a.syncer->sync();
    EXPECT_EQ(remoteFiles(remote), (std::vector<std::string>{"Notes.md", "notes.md"}));
}

TEST_F(GitSyncerTest, NamesWithPatternCharactersAreTakenLiterally) {
    a.write("[draft] *.md", "base");
    a.write("d.md", "decoy");
    a.syncer->sync();
    b.syncer->sync();
    a.write("[draft] *.md", "A");
    b.write("[draft] *.md", "B");
    a.syncer->sync();
    b.syncer->sync();
    EXPECT_EQ(b.read("[draft] *.md"), "B");
    EXPECT_EQ(b.read("[draft] * (conflict from Mac A " + stamp() + ").md"), "A");
    EXPECT_EQ(b.read("d.md"), "decoy");
}

TEST_F(GitSyncerTest, TheTokenIsNeverWrittenAnywhere) {
    const std::string token = "ghp_TopSecretToken42";
    const std::string header = Text::base64("x-access-token:" + token);
    std::optional<ScopedEnv> trace(std::in_place, "GIT_TRACE", (sandbox.root() / "trace.txt").string());
    a.syncer->git().setToken(token);
    b.syncer->git().setToken(token);
    a.write("one.txt", "1");
    a.syncer->sync();
    b.syncer->sync();
    b.write("one.txt", "2");
    b.syncer->sync();
    a.syncer->sync();
    trace.reset();
    ASSERT_THAT(readFile(sandbox.root() / "trace.txt"), HasSubstr("git push"));
    for (auto it = fs::recursive_directory_iterator(sandbox.root()); it != fs::recursive_directory_iterator(); ++it) {
        if (!it->is_regular_file()) continue;
        std::string content = readFile(it->path());
        EXPECT_THAT(content, Not(HasSubstr(token))) << it->path();
        EXPECT_THAT(content, Not(HasSubstr(header))) << it->path();
    }
    EXPECT_THAT(sandbox.log(), Not(HasSubstr(token)));
}
