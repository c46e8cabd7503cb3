#include "morsels/Morsels.h"
#include "platform/NamedPasteboard.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace brindle {
namespace {

// Screening cases the end-to-end runs of "--morsel-clipboard" leave out.
class ClipTest : public ::testing::Test {
protected:
    void put(const std::string& type, const std::string& data) { test::writeFile(board_ / type, data); }
    Morsels::Clip capture() {
        NamedPasteboard pasteboard(board_.path());
        return Morsels::clip(pasteboard);
    }
    std::string refusal() {
        try {
            capture();
        } catch (const Morsels::Problem& problem) {
            return problem.what();
        }
        return "(no refusal)";
    }
    std::string fileURL(const std::string& name) { return "file://" + (files_ / name).string(); }

    test::TempDir board_;
    test::TempDir files_;
};

const std::string kUnreadable = "That file couldn't be read.";

TEST_F(ClipTest, SecretMarkersWinBeforeAnythingIsRead) {
    put("public.file-url", fileURL("missing.txt"));
    put("x-kde-passwordManagerHint", "other");
    EXPECT_EQ(refusal(), kUnreadable);
    put("x-kde-passwordManagerHint", "secret\n");
    EXPECT_EQ(refusal(), "That looks like a password or a one-time code, so it was not added to Morsels.");
}

TEST_F(ClipTest, CopiedFileBeatsTextUpToTheSizeLimit) {
    test::writeFile(files_ / "big.bin", std::string(5242880, 'z'));
    put("public.file-url", "https://example.org/page\n" + fileURL("big.bin") + "\n" + fileURL("missing"));
    put("public.utf8-plain-text", "some text");
    Morsels::Clip clip = capture();
    EXPECT_EQ(clip.name, "big.bin");
    EXPECT_EQ(clip.data.size(), 5242880u);
    test::writeFile(files_ / "big.bin", std::string(5242881, 'z'));
    EXPECT_EQ(refusal(), "That file is too big for a morsel (over 5 MB).");
}

TEST_F(ClipTest, TextIsTrimmedOfUnicodeWhiteSpace) {
    put("public.utf8-plain-text", "\u00A0\u2003note to self\u00A0\n");
    EXPECT_EQ(capture().text, "note to self");
    put("public.utf8-plain-text", "\u00A0\u00A0\u3000");  // nothing to send
    EXPECT_EQ(refusal(), "The clipboard is empty.");
}

TEST_F(ClipTest, OnlyRegularLocalFilesAreRead) {
    // A pipe would block for ever; a folder or another host's file cannot be read.
    ASSERT_EQ(::mkfifo((files_ / "pipe").c_str(), 0600), 0);
    for (const std::string& url : {fileURL("pipe"), "file://" + files_.path().string(), std::string("file://host/etc/hostname")}) {
        put("public.file-url", url);
        EXPECT_EQ(refusal(), kUnreadable) << url;
    }
    put("public.file-url", "file://localhost/bad%zzescape");
    EXPECT_EQ(refusal(), "The clipboard holds a file address that isn't a valid file URL: file://localhost/bad%zzescape");
}

TEST_F(ClipTest, PicturesNeedValidDataWithinTheLimit) {
    put("public.utf8-plain-text", "  \n");
    put("public.tiff", "II*");  // not a TIFF that decodes
    EXPECT_EQ(refusal(), "The clipboard is empty.");
    put("public.png", std::string(5242881, 'p'));
    EXPECT_EQ(refusal(), "That picture is too big for a morsel (over 5 MB).");
}

}  // namespace
}  // namespace brindle
