#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "FakePlaud.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;
using test::hexID;
using test::readFile;
using test::writeFile;

std::map<fs::path, std::string> snapshot(const fs::path& folder) {
    std::map<fs::path, std::string> files;
    for (auto& entry : fs::directory_iterator(folder)) files[entry.path().filename()] = readFile(entry.path());
    return files;
}

class PlaudOnceModeTest : public ::testing::Test {
protected:
    test::ProgramResult plaudOnce(const std::vector<std::string>& extra = {"3"}) {
        std::vector<std::string> args{"--plaud-once", meetings.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        return test::runBrindle(args, {{"LARDER_PLAUD", plaud.path()}});
    }

    test::IsolatedHome home;
    test::FakePlaud plaud;
    test::TempDir folder;
    fs::path meetings = folder / "Meetings";
};

// Given one recording ready, one still processing, one whose name matches
// the first, an "of_" twin of an existing note and a title with quotes.
TEST_F(PlaudOnceModeTest, ImportsOnceAndCountsEveryOutcome) {
    const std::string existingNote = "---\ntitle: \"Old\"\nplaud_id: " + hexID(4) + "\n---\n\n# Old\n";
    writeFile(meetings / "2025-02-01-old.md", existingNote);
    plaud.setRecent(hexID(1) + " Quotes\n" + hexID(2) + " Processing\n" + hexID(3) + " Same name\nof_" + hexID(4) +
                    " Twin\n" + hexID(1) + " listed twice\n");
    plaud.addRecording(hexID(1), "name: He said \"hi\"\ncreated_at: 2025-03-01\n", "Short summary.", "Hello.");
    plaud.addRecording(hexID(2), "name: Later\ncreated_at: 2025-03-01\n", "", "");
    plaud.addRecording(hexID(3), "title: He said 'hi'\ncreated_at: 2025-03-01\n", "Other.", "");

    test::ProgramResult first = plaudOnce();
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out, "Wrote 2025-03-01-he-said-hi.md\nfound 4, written 1, already had 1, not ready 1\n");
    EXPECT_EQ(plaud.calls()[1], "recent --days 3");
    std::string note = readFile(meetings / "2025-03-01-he-said-hi.md");
    std::string syncedAt = note.substr(note.find("synced_at: ") + 11, 20);
    EXPECT_TRUE(syncedAt.ends_with("Z") && syncedAt[10] == 'T') << syncedAt;
    EXPECT_EQ(note, "---\ntitle: \"He said 'hi'\"\ndate: 2025-03-01\nplaud_id: " + hexID(1) +
                        "\nsource: plaud\nsynced_at: " + syncedAt +
                        "\n---\n\n# He said \"hi\"\n\n## Summary\n\nShort summary.\n\n## Transcript\n\nHello.\n");
    EXPECT_EQ(readFile(meetings / "2025-02-01-old.md"), existingNote);

    auto before = snapshot(meetings);
    test::ProgramResult second = plaudOnce();
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(second.out, "found 4, written 0, already had 1, not ready 1\n");
    EXPECT_EQ(snapshot(meetings), before);
}

TEST_F(PlaudOnceModeTest, DaysThatAreNotAWholeNumberUseTheNotesLookBack) {
    ASSERT_EQ(plaudOnce({"three"}).status, 0);
    EXPECT_EQ(plaud.calls()[1], "recent --days 2");
}

TEST_F(PlaudOnceModeTest, MissingOrSignedOutToolSaysHowToSetItUp) {
    plaud.signOut();
    test::ProgramResult signedOut = plaudOnce();
    EXPECT_EQ(signedOut.status, 1);
    EXPECT_EQ(signedOut.err, "error: Not signed in to Plaud. Run `plaud login` in Terminal.\n");

    // No LARDER_PLAUD, nothing on the search path or in the isolated home.
    test::ProgramResult missing =
        test::runBrindle({"--plaud-once", meetings.string()}, {{"PATH", "/nonexistent"}, {"SHELL", "/bin/sh"}});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err,
              "error: The Plaud CLI isn't installed. Run: npm install -g @plaud-ai/cli, then: plaud login\n");
    EXPECT_FALSE(fs::exists(meetings));
}

}  // namespace
}  // namespace brindle
