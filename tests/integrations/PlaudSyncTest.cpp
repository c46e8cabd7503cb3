#include "integrations/PlaudSync.h"

#include <gtest/gtest.h>

#include "integrations/IntegrationError.h"
#include "integrations/NoteText.h"
#include "support/Expect.h"
#include "support/FakePlaud.h"
#include "support/ScopedEnv.h"

namespace brindle::test {
namespace {

namespace fs = std::filesystem;

class PlaudSyncTest : public ::testing::Test {
protected:
    PlaudSync importer() {
        return PlaudSync(meetings,
                         [] { return std::chrono::system_clock::time_point(std::chrono::seconds(1741356309)); });
    }
    // The days the import asked "plaud recent" to look back.
    std::string daysAsked(std::optional<int> days = std::nullopt) {
        importer().run(false, days);
        std::string last;
        for (auto& call : plaud.calls())
            if (call.starts_with("recent")) last = call;
        return last;
    }

    IsolatedHome home;
    FakePlaud plaud;
    ScopedEnv env{"LARDER_PLAUD", plaud.path()};
    TempDir folder;
    fs::path meetings = folder / "Meetings";
};

TEST_F(PlaudSyncTest, LooksBackFromTheNewestDatedNote) {  // "now" is 2025-03-07T14:05:09Z
    EXPECT_EQ(daysAsked(), "recent --days 2");            // no notes yet
    writeFile(meetings / "notes.md", "not dated");
    writeFile(meetings / "README.md", "short name");
    writeFile(meetings / "2025-02-25-standup.md", "ten days old");
    EXPECT_EQ(daysAsked(), "recent --days 12");
    fs::remove(meetings / "2025-02-25-standup.md");
    writeFile(meetings / "2023-03-07-old.md", "two years old");
    EXPECT_EQ(daysAsked(), "recent --days 367");
    writeFile(meetings / "2025-13-45-odd.md", "bad date");  // the greatest prefix decides, even when it is no date
    EXPECT_EQ(importer().daysSinceNewestNote(), 0);
    EXPECT_EQ(daysAsked(), "recent --days 2");
    EXPECT_EQ(daysAsked(30), "recent --days 30");
}

TEST_F(PlaudSyncTest, WritesTheNoteLayoutExactly) {
    plaud.setRecent("Recent recordings:\n  " + hexID(1) + "  He said\n");
    plaud.addRecording(hexID(1), "Name: He said \"hi\" — Café\nCreated_At: 2025-03-01T09:00:00Z\n", "  The summary.\n",
                       "Speaker 1: hello\nSpeaker 2: hi\n\n");
    EXPECT_EQ(importer().run(false).written, 1);
    EXPECT_EQ(readFile(meetings / "2025-03-01-he-said-hi-caf.md"), R"(---
title: "He said 'hi' — Café"
date: 2025-03-01
plaud_id: )" + hexID(1) + R"(
source: plaud
synced_at: 2025-03-07T14:05:09Z
---

# He said "hi" — Café

## Summary

The summary.

## Transcript

Speaker 1: hello
Speaker 2: hi
)");
}

TEST_F(PlaudSyncTest, ReadsTitlesDatesIDsAndSlugs) {
    using Parsed = std::pair<std::string, std::string>;
    PlaudSync sync = importer();
    EXPECT_EQ(sync.parseDetails("Title - Other\nname:   Weekly sync  \ncreated_at: 2024-12-31 10:00", "x"),
              Parsed("Weekly sync", "2024-12-31"));
    EXPECT_EQ(sync.parseDetails("TITLE: Board call\nrecorded 2024-11-05 at noon\n", "x"),
              Parsed("Board call", "2024-11-05"));
    // Neither a title nor a date: the id names it, today dates it.
    EXPECT_EQ(sync.parseDetails("duration: 12m\n", "abc"), Parsed("Plaud recording abc", "2025-03-07"));

    std::string text = hexID(3) + " first\nof_" + hexID(4) + " twin\n" + hexID(3) + " again\nX" + hexID(5) +
                       " glued to a letter\n" + hexID(6).substr(1) + " too short\nABCDEF" + hexID(7).substr(6) +
                       " upper case\n";
    EXPECT_EQ(PlaudSync::extractIDs(text), (std::vector<std::string>{hexID(3), "of_" + hexID(4)}));

    EXPECT_EQ(NoteText::slugify("Q3 Planning — Café & Budget!", 60), "q3-planning-caf-budget");
    EXPECT_EQ(NoteText::slugify("?!… —", 60), "untitled");
    EXPECT_EQ(NoteText::slugify("Встреча команды", 60), "untitled");
    EXPECT_EQ(NoteText::slugify(std::string(59, 'a') + " bcd", 60), std::string(59, 'a'));  // cut, "-" dropped
    EXPECT_EQ(NoteText::slugify(std::string(100, 'z'), 60).size(), 60u);
}

TEST_F(PlaudSyncTest, SkipsRecordingsThatHaveNotesAndNumbersNamesThatClash) {
    writeFile(meetings / "2025-03-01-old.md", "---\nplaud_id: " + hexID(8) + "\n---\n");
    const fs::path base = meetings / "2025-03-02-weekly-sync";
    plaud.setRecent("of_" + hexID(8) + "\n" + hexID(9) + "\n" + hexID(10) + "\n");
    plaud.addRecording(hexID(10), "name: Weekly sync\ncreated_at: 2025-03-02\n", "sum", "");
    // files of the same name appear while the recording is fetched
    plaud.beforeCommand("summary", hexID(10),
                        "echo mine > '" + base.string() + ".md'; echo also mine > '" + base.string() + "-2.md'");
    PlaudSync::Result result = importer().run(false);
    EXPECT_EQ(result.found, 3);
    EXPECT_EQ(result.written, 1);
    EXPECT_EQ(result.notReady, 1);  // hexID(9) has no details
    for (auto& call : plaud.calls()) EXPECT_THAT(call, Not(HasSubstr(hexID(8))));
    EXPECT_EQ(readFile(base.string() + ".md") + readFile(base.string() + "-2.md"), "mine\nalso mine\n");
    EXPECT_THAT(readFile(base.string() + "-3.md"), HasSubstr("plaud_id: " + hexID(10)));
}

TEST_F(PlaudSyncTest, BackfillReadsPagesUntilNothingIsNew) {
    plaud.setPage(1, hexID(11) + "\n" + hexID(12) + "\n");
    plaud.setPage(2, hexID(12) + "\n" + hexID(13) + "\n");
    plaud.setPage(3, hexID(13) + "\n");  // only repeats: the end
    plaud.setPage(4, hexID(14) + "\n");
    std::vector<std::string> progress;
    EXPECT_EQ(importer().run(true, std::nullopt, [&](const std::string& line) { progress.push_back(line); }).found, 3);
    EXPECT_EQ(progress, (std::vector<std::string>{"Listed 2 recordings\u2026", "Listed 3 recordings\u2026"}));
    EXPECT_EQ(plaud.calls()[1], "files --page 1 --page-size 50");
}

TEST_F(PlaudSyncTest, FailuresOfTheToolReadClearlyAndOutputWithoutIDsIsNotFatal) {
    plaud.setRecent("Something entirely different\n");
    EXPECT_EQ(importer().run(false).found, 0);
    EXPECT_THAT(readFile(home.logFile()), HasSubstr("Plaud: output had no recording IDs; format may have changed"));
    auto failure = [&] {
        try {
            importer().run(false);
        } catch (const IntegrationError& failure) {
            return std::string(failure.notConfigured() ? "not configured: " : "") + failure.what();
        }
        return std::string("(nothing thrown)");
    };
    plaud.failRecent("\n  rate limited  \n");
    EXPECT_EQ(failure(), "plaud recent failed: rate limited");
    plaud.signOut();
    EXPECT_EQ(failure(), "not configured: Not signed in to Plaud. Run `plaud login` in Terminal.");
    // Nowhere to be found: not given, not on the search path, not in the home.
    ScopedEnv nowhere({{"LARDER_PLAUD", std::nullopt}, {"PATH", "/nonexistent"}, {"SHELL", "/bin/sh"}});
    EXPECT_EQ(failure(),
              "not configured: The Plaud CLI isn't installed. Run: npm install -g @plaud-ai/cli, then: plaud login");
}

TEST_F(PlaudSyncTest, HugeAndInvalidOutputStillMakesValidNotes) {
    std::string transcript;
    while (transcript.size() < size_t{10} * 1024 * 1024) transcript += "Speaker 1: a long meeting goes on and on.\n";
    plaud.setRecent(hexID(15) + "\n" + hexID(16) + "\n");
    plaud.addRecording(hexID(15), "name: Marathon\ncreated_at: 2025-03-03\n", "", transcript);
    plaud.addRecording(hexID(16), "name: Bad \xff\xfe bytes\ncreated_at: 2025-03-04\n", "sum \xc3", "");
    writeFile(meetings / "2025-01-01-binary.md", "\xff\xfe not text plaud_id: x\n");
    EXPECT_EQ(importer().run(false).written, 2);
    std::string big = readFile(meetings / "2025-03-03-marathon.md");
    EXPECT_GT(big.size(), transcript.size() - 100);
    EXPECT_THAT(big, EndsWith("on and on.\n"));
    EXPECT_THAT(readFile(meetings / "2025-03-04-bad-bytes.md"), HasSubstr("# Bad \xef\xbf\xbd\xef\xbf\xbd bytes\n"));
    EXPECT_THAT(readFile(meetings / "2025-01-01-binary.md"), StartsWith("\xff\xfe"));  // left alone
}

}  // namespace
}  // namespace brindle::test
