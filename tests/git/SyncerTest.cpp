#include "git/Syncer.h"

#include <fstream>

#include "GitTestSupport.h"
#include "common/ConflictName.h"
#include "service/GitHubError.h"
#include "support/Expect.h"

namespace brindle::test {
namespace {

namespace fs = std::filesystem;

constexpr std::time_t kNoon = 1773835200;  // a fixed moment for conflict stamps

void makeSparse(const fs::path& path, long long size) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).close();
    fs::resize_file(path, static_cast<uintmax_t>(size));
}

void writeHook(const fs::path& gitDir, const std::string& script) {
    writeFile(gitDir / "hooks/pre-push", "#!/bin/sh\n" + script);
    fs::permissions(gitDir / "hooks/pre-push", fs::perms::owner_all);
}

class GitSyncerTest : public ::testing::Test {
protected:
    GitSyncerTest() {
        for (Computer* computer : {&a, &b}) computer->syncer->setClock([] { return kNoon; });
    }
    void syncAll(std::initializer_list<Computer*> computers) {
        for (Computer* computer : computers) computer->syncer->sync();
    }

    GitSandbox sandbox;
    std::string remote = sandbox.makeRemote();
    Computer a{sandbox, "Mac A", remote}, b{sandbox, "Lab/B", remote};
};

TEST_F(GitSyncerTest, FirstPushThenAnEmptyComputerAdoptsTheRemoteAndNothingChangedDoesNothing) {
    for (auto [path, content] : Tree{{"one.txt", "1"}, {"notes/plan.md", "plan"}}) a.write(path, content);
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
    std::string head = a.git({"rev-parse", "HEAD"}), log = sandbox.log();
    a.syncer->sync();
    EXPECT_EQ(a.git({"rev-parse", "HEAD"}) + sandbox.log(), head + log);
    EXPECT_TRUE(a.syncer->events().empty());
    EXPECT_EQ(std::to_string(a.syncer->totals()->files) + " " + std::to_string(a.syncer->totals()->bytes), "2 5");
}
TEST_F(GitSyncerTest, UnrelatedFirstCommitsAreMergedAndEveryoneEndsWithEverything) {
    a.write("from-a.txt", "a");
    b.write("from-b.txt", "b");
    syncAll({&a, &b, &a});
    EXPECT_THAT(sandbox.log(), HasSubstr("Merged remote changes"));
    EXPECT_EQ(a.files(), (std::vector<std::string>{"from-a.txt", "from-b.txt"}));
    EXPECT_EQ(b.files(), a.files());
    EXPECT_EQ(a.syncer->events(), (std::vector<SyncEvent>{{"downloaded", "from-b.txt", 1}}));
}
TEST_F(GitSyncerTest, BothEditingAFileKeepsBothAsAConflictCopyTakingNamesLiterally) {
    for (auto name : {"notes/plan.md", "[draft] *.md", "d.md"}) a.write(name, "base");
    syncAll({&a, &b});
    for (auto name : {"notes/plan.md", "[draft] *.md"}) {
        a.write(name, "from A");
        b.write(name, "from B");
    }
    syncAll({&a, &b});
    const std::string copy = "notes/plan (conflict from Mac A " + ConflictName::stamp(kNoon) + ").md";
    const std::string draft = "[draft] * (conflict from Mac A " + ConflictName::stamp(kNoon) + ").md";
    EXPECT_EQ(filesIn(b.folder), (Tree{{"notes/plan.md", "from B"},
                                       {copy, "from A"},
                                       {"[draft] *.md", "from B"},
                                       {draft, "from A"},
                                       {"d.md", "base"}}));
    EXPECT_THAT(sandbox.log(), AllOf(HasSubstr("Conflict on notes/plan.md: kept both, other version saved as " + copy),
                                     HasSubstr("Merged remote changes with 2 conflict(s)")));
    EXPECT_EQ(b.git({"log", "-1", "--format=%s"}), "Lab/B: merge\n");
    EXPECT_EQ(remoteFiles(remote), b.files());
    a.syncer->sync();
    EXPECT_EQ(filesIn(a.folder), filesIn(b.folder));
}
TEST_F(GitSyncerTest, AnEditBeatsADeleteInEitherDirection) {
    for (auto path : {"kept-by-a.txt", "kept-by-b.txt"}) a.write(path, "base");
    syncAll({&a, &b});
    a.write("kept-by-a.txt", "edited on A");
    fs::remove(a.folder / "kept-by-b.txt");
    fs::remove(b.folder / "kept-by-a.txt");
    b.write("kept-by-b.txt", "edited on B");
    syncAll({&a, &b, &a});
    for (const Computer* computer : {&a, &b})
        EXPECT_EQ(filesIn(computer->folder),
                  (Tree{{"kept-by-a.txt", "edited on A"}, {"kept-by-b.txt", "edited on B"}}));
    EXPECT_EQ(occurrences(sandbox.log(), "edited on one Mac, deleted on another — kept the file"), 2u);
}
TEST_F(GitSyncerTest, EventsNameRenamesDownloadsAndDeletionsAndStopAt200) {
    for (auto [path, content] : Tree{{"old name.txt", "same content here"}, {"stays.txt", "1"}, {"goes.txt", "1"}})
        a.write(path, content);
    syncAll({&a, &b});
    fs::rename(a.folder / "old name.txt", a.folder / "new name.txt");
    a.syncer->sync();
    EXPECT_EQ(a.syncer->events(), (std::vector<SyncEvent>{{"uploaded", "new name.txt", 17}}));
    EXPECT_THAT(sandbox.log(), HasSubstr("Committed local changes: 1 changed"));
    a.write("stays.txt", "12345");
    fs::remove(a.folder / "goes.txt");
    syncAll({&a, &b});
    EXPECT_EQ(b.syncer->events(),
              (std::vector<SyncEvent>{
                  {"deleted", "goes.txt", 0}, {"downloaded", "new name.txt", 17}, {"downloaded", "stays.txt", 5}}));
    for (int i = 0; i < 230; ++i) a.write("many/" + std::to_string(1000 + i), "x");
    syncAll({&a, &b});
    EXPECT_EQ(a.syncer->events().size() + b.syncer->events().size(), 2 * kMaxHeldEvents);
    EXPECT_THAT(a.git({"log", "-1", "--format=%s"}), HasSubstr("Mac A: 230 added"));
}
TEST_F(GitSyncerTest, AnotherComputerPushingBeforeOurPushIsMergedAndRetried) {
    a.write("shared.txt", "base");
    syncAll({&a, &b});
    const std::string bGit = "git --git-dir='" + b.gitDir.string() + "' ";
    writeHook(a.gitDir, "[ -e \"$0.done\" ] && exit 0\ntouch \"$0.done\"\nunset GIT_DIR GIT_WORK_TREE\ncd '" +
                            b.folder.string() + "' && echo race > race.txt && " + bGit + "add -A && " + bGit +
                            "commit -qm race && " + bGit + "push -q origin HEAD:refs/heads/main\n");
    a.write("mine.txt", "mine");
    a.syncer->sync();
    EXPECT_THAT(sandbox.log(), AllOf(HasSubstr("Push rejected (attempt 1): "), HasSubstr("Pushed 2 commit(s)")));
    EXPECT_EQ(remoteFiles(remote), (std::vector<std::string>{"mine.txt", "race.txt", "shared.txt"}));
    EXPECT_EQ(a.read("race.txt"), "race\n");
}
TEST_F(GitSyncerTest, FourRejectedPushesGiveUpWithAPushError) {
    writeHook(a.gitDir, "exit 1\n");
    a.write("one.txt", "1");
    EXPECT_THROW_WITH(a.syncer->sync(), GitHubError, "Could not push after several attempts; will retry.");
    EXPECT_THAT(sandbox.log(), AllOf(HasSubstr("Push rejected (attempt 4)"), Not(HasSubstr("attempt 5"))));
    fs::remove(a.gitDir / "hooks/pre-push");  // the commit goes out with the next pass that can push
    a.syncer->sync();
    EXPECT_EQ(remoteFiles(remote), (std::vector<std::string>{"one.txt"}));
}
TEST_F(GitSyncerTest, FilesOver95MBAreLeftOutAndNamedOncePerChange) {
    makeSparse(a.folder / "exact.bin", Syncer::kLargeFileLimit);
    makeSparse(a.folder / "big.bin", Syncer::kLargeFileLimit + 1);
    a.write("small.txt", "s");
    syncAll({&a, &a});
    EXPECT_EQ(remoteFiles(remote), (std::vector<std::string>{"exact.bin", "small.txt"}));
    EXPECT_EQ(a.syncer->skippedFiles(), std::vector<std::string>{"big.bin"});
    EXPECT_EQ(occurrences(sandbox.log(), "Skipping files over 95 MB: big.bin"), 1u);
    fs::resize_file(a.folder / "exact.bin", Syncer::kLargeFileLimit + 10);  // grown past: keeps the committed one
    a.syncer->sync();
    EXPECT_EQ(occurrences(sandbox.log(), "Skipping files over 95 MB: "), 2u);
    EXPECT_THAT(a.git({"ls-tree", "-l", "HEAD", "exact.bin"}), HasSubstr(std::to_string(Syncer::kLargeFileLimit)));
}
TEST_F(GitSyncerTest, PlaceholdersIgnoreRulesAndDeletedFoldersNeverDeleteAndLitterIsNeverCommitted) {
    const std::string rules = "*.tmp\n!keep.tmp\n";  // rule by rule matching is checked with the drives' rules
    for (auto [path, content] : Tree{{".brindleignore", rules},
                                     {"a.tmp", "x"},
                                     {"sub/b.tmp", "x"},
                                     {"keep.tmp", "x"},
                                     {"docs/report.pdf", "pdf"},
                                     {".icloud", "not a placeholder"},
                                     {"Notes.md", "upper"}})
        a.write(path, content);
    a.syncer->sync();
    fs::remove(a.folder / "docs/report.pdf");
    a.write("docs/.report.pdf.icloud", "placeholder");
    EXPECT_EQ(a.syncer->scanForExclusions().excludes, (std::vector<std::string>{"docs/report.pdf"}));
    a.write("notes.md", "lower");  // names differing only in case are both kept
    for (auto name : {"notes.md.swp", "notes.md~", ".#notes.md", ".nfs0000000001a2b3c4", ".goutputstream-QX81ZZ",
                      ".directory", "sub/.#plan.md"})
        a.write(name, "litter");
    a.syncer->sync();
    const std::vector<std::string> committed{".brindleignore", "Notes.md", "docs/report.pdf", "keep.tmp", "notes.md"};
    EXPECT_EQ(remoteFiles(remote), committed);
    a.write(".brindleignore", rules + "Notes.md\n");  // a new rule deletes nothing
    a.syncer->sync();
    EXPECT_EQ(remoteFiles(remote), committed);
    fs::remove_all(a.folder);
    a.syncer->sync();
    EXPECT_EQ(a.read("Notes.md"), "upper");
    EXPECT_THAT(sandbox.log(), HasSubstr("Folder was missing; restored contents from last sync"));
    EXPECT_EQ(remoteFiles(remote), committed);
}
TEST_F(GitSyncerTest, AMergeThatFailsWithoutAConflictIsAbortedAndReported) {
    a.write("base.txt", "base");
    syncAll({&a, &b});
    a.write("video.bin", "small on A");
    a.syncer->sync();
    makeSparse(b.folder / "video.bin", Syncer::kLargeFileLimit + 1);  // too big to commit, in the merge's way
    b.write("other.txt", "local change");
    EXPECT_THAT([&] { b.syncer->sync(); }, ::testing::ThrowsMessage<GitError>(::testing::AllOf(
                                               StartsWith("git merge failed: "), HasSubstr("video.bin"))));
    EXPECT_FALSE(fs::exists(b.gitDir / "MERGE_HEAD"));
    EXPECT_THROW(b.syncer->sync(), GitError);
    EXPECT_EQ(fs::file_size(b.folder / "video.bin"), static_cast<uintmax_t>(Syncer::kLargeFileLimit + 1));
}
TEST_F(GitSyncerTest, TheTokenIsNeverWrittenAnywhere) {
    const std::string token = "ghp_TopSecretToken42", header = Text::base64("x-access-token:" + token);
    std::optional<ScopedEnv> trace(std::in_place, "GIT_TRACE", (sandbox.root() / "trace.txt").string());
    for (Computer* computer : {&a, &b}) computer->syncer->git().setToken(token);
    a.write("one.txt", "1");
    syncAll({&a, &b});
    b.write("one.txt", "2");
    syncAll({&b, &a});
    trace.reset();
    ASSERT_THAT(readFile(sandbox.root() / "trace.txt"), HasSubstr("git push"));
    for (const auto& [path, content] : filesIn(sandbox.root()))
        EXPECT_THAT(content, AllOf(Not(HasSubstr(token)), Not(HasSubstr(header)))) << path;
    EXPECT_THAT(sandbox.log(), Not(HasSubstr(token)));
}

// A folder of files never committed takes the remote's tree by a hard reset, which they must survive.
using AdoptRemoteTest = GitSyncerTest;

TEST_F(AdoptRemoteTest, UncommittedLocalFilesInTheWayAreMovedAsideNotOverwritten) {
    const Tree expected{{"video.mp4", "short clip"},
                        {"notes", "a file where B has a folder"},
                        {"~$drafts/plan.md", "a folder where B has an ignored file"}};
    for (auto [path, content] : expected) a.write(path, content);
    a.syncer->sync();
    a.git({"add", "-f", "--", "~$drafts/plan.md"});  // an ignored name, committed all the same
    a.syncer->sync();
    // B's over-limit video, a folder of an ignored file, an ignored file: each where the remote has another
    makeSparse(b.folder / "video.mp4", Syncer::kLargeFileLimit + 1);
    b.write("notes/.DS_Store", "finder state");
    b.write("~$drafts", "lock file");
    auto copyOf = [&](const std::string& path) {
        return ConflictName::make(b.folder, path, "Lab/B", ConflictName::stamp(kNoon));
    };
    const std::string video = copyOf("video.mp4"), notes = copyOf("notes"), drafts = copyOf("~$drafts");
    b.syncer->sync();
    EXPECT_EQ(fs::file_size(b.folder / video), static_cast<uintmax_t>(Syncer::kLargeFileLimit + 1));
    Tree found = filesIn(b.folder), kept = expected;
    kept.insert({{notes + "/.DS_Store", "finder state"}, {drafts, "lock file"}});
    EXPECT_EQ(found.erase(video), 1u);
    EXPECT_EQ(found, kept);
    EXPECT_THAT(sandbox.log(), HasSubstr("Kept this computer's video.mp4 as " + video));
}

// What an interrupted pass left behind neither wedges the next nor gets committed.
class Recovery : public GitSyncerTest {
protected:
    Recovery() {
        a.write("plan.md", "base\n");
        syncAll({&a, &b});
    }
};

TEST_F(Recovery, StaleLocksOfAKilledGitAreRemoved) {
    a.write("new.txt", "new");
    for (auto lock : {"index.lock", "refs/remotes/origin/main.lock"}) writeFile(a.gitDir / lock, "");
    a.syncer->sync();
    EXPECT_THAT(sandbox.log(), HasSubstr("Removed stale git lock index.lock"));
    EXPECT_EQ(remoteFiles(remote), (std::vector<std::string>{"new.txt", "plan.md"}));
}
TEST_F(Recovery, AHalfDoneMergeIsRedoneWithoutCommittingConflictMarkers) {
    // A in the middle of a conflicted merge of B's edit, as a pass stopped after "git merge" leaves it
    b.write("plan.md", "from B\n");
    b.syncer->sync();
    a.write("plan.md", "from A\n");
    a.git({"add", "-A"});
    a.git({"-c", "user.name=Mac A", "-c", "user.email=a@a", "commit", "-qm", "A edit"});
    a.git({"fetch", "-q", "origin"});
    runProgram({"/usr/bin/git", "--git-dir=" + a.gitDir.string(), "--work-tree=" + a.folder.string(), "-C",
                a.folder.string(), "merge", "-q", "--no-edit", "refs/remotes/origin/main"});
    ASSERT_THAT(a.read("plan.md"), HasSubstr("<<<<<<<"));
    a.syncer->sync();
    EXPECT_THAT(a.git({"log", "--all", "-p"}), Not(HasSubstr("+<<<<<<<")));
    ASSERT_EQ(a.files().size(), 2u);
    EXPECT_EQ(a.read("plan.md") + a.read(a.files()[0]), "from A\nfrom B\n");  // "plan (conflict from Lab/B ...).md"
    b.syncer->sync();
    EXPECT_EQ(b.files(), a.files());
}
TEST_F(Recovery, OurNoteOfAnInterruptedMergeRollsBackWhatItWrote) {
    // a merge that wrote B's new file and part of B's edit, stopped before git recorded anything
    b.write("plan.md", "from B, a longer text\n");
    b.write("added-by-b.txt", "b");
    b.syncer->sync();
    a.git({"fetch", "-q", "origin"});
    std::string start = a.git({"rev-parse", "HEAD"}), target = a.git({"rev-parse", "refs/remotes/origin/main"});
    writeFile(a.gitDir / "brindle-operation", "merge" + std::string(1, '\0') + start.substr(0, start.size() - 1) +
                                                  std::string(1, '\0') + target.substr(0, target.size() - 1));
    a.write("added-by-b.txt", "b");
    a.write("plan.md", "from B, a lon");
    a.write("mine.txt", "written after the crash");
    a.syncer->sync();
    EXPECT_THAT(sandbox.log(), HasSubstr("Rolled back an interrupted merge"));
    EXPECT_EQ(a.read("plan.md"), "from B, a longer text\n");
    EXPECT_EQ(a.files(), (std::vector<std::string>{"added-by-b.txt", "mine.txt", "plan.md"}));
    EXPECT_EQ(remoteFiles(remote), a.files());
}
TEST_F(Recovery, ADetachedHeadAndARebaseInProgressAreLeftKeepingTheFiles) {
    a.git({"checkout", "-q", "--detach"});
    fs::create_directories(a.gitDir / "rebase-merge");
    a.write("plan.md", "edited while detached\n");
    a.syncer->sync();
    EXPECT_EQ(a.git({"symbolic-ref", "HEAD"}), "refs/heads/main\n");
    b.syncer->sync();
    EXPECT_EQ(b.read("plan.md"), "edited while detached\n");
}

}  // namespace
}  // namespace brindle::test
