#include <gtest/gtest.h>
#include <sys/stat.h>

#include "Pictures.h"
#include "morsels/Morsels.h"
#include "platform/NamedPasteboard.h"
#include "support/Expect.h"
#include "support/TempDir.h"

namespace brindle {
namespace {

// What a copy on the clipboard becomes, and what is refused.
class ClipTest : public ::testing::Test {
protected:
    void put(const std::string& type, const std::string& data) { test::writeFile(board_ / type, data); }
    Morsels::Clip capture() {
        NamedPasteboard pasteboard(board_.path());
        return Morsels::clip(pasteboard);
    }
    std::string refusal() {
        return test::failureText<Morsels::Problem>([&] { capture(); });
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
    for (const std::string& url :
         {fileURL("pipe"), "file://" + files_.path().string(), std::string("file://host/etc/hostname")}) {
        put("public.file-url", url);
        EXPECT_EQ(refusal(), kUnreadable) << url;
    }
    put("public.file-url", "file://localhost/bad%zzescape");
    EXPECT_EQ(refusal(),
              "The clipboard holds a file address that isn't a valid file URL: file://localhost/bad%zzescape");
}

TEST_F(ClipTest, TrimmedTextUpToTwentyKilobytes) {
    std::string text = std::string(20478, 'a') + "\xC3\xA9";  // exactly 20,480 bytes
    put("public.utf8-plain-text", "\n  " + text + "\t\n");
    Morsels::Clip clip = capture();
    EXPECT_EQ(clip.kind, Morsels::Clip::Kind::text);
    EXPECT_EQ(clip.text, text);
    put("public.utf8-plain-text", "\n  " + text + "a\t\n");
    EXPECT_EQ(refusal(), "That is too long for a morsel (over 20 KB). Save it as a file instead.");
}

TEST_F(ClipTest, FileAddressesThatAreNotURLsAreRefusedClearly) {
    put("public.utf8-plain-text", "fallback");
    put("public.file-url", "not a url");
    EXPECT_EQ(refusal(), "The clipboard holds a file address that isn't a URL: not a url");
}

TEST_F(ClipTest, TIFFPictureBecomesAPNG) {
    put("public.tiff", test::makeTIFF(4, 3));
    Morsels::Clip clip = capture();
    EXPECT_EQ(clip.name, "Clipboard picture.png");
    std::optional<test::DecodedPNG> png = test::decodePNG(clip.data);
    ASSERT_TRUE(png);
    EXPECT_EQ(png->width, 4u);
    EXPECT_EQ(png->height, 3u);
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
