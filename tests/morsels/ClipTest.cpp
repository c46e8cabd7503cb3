#include "Pictures.h"
#include "morsels/Morsels.h"
#include "morsels/PNG.h"
#include "platform/NamedPasteboard.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace brindle {
namespace {

using Morsels::Clip;
using test::writeFile;

class ClipTest : public ::testing::Test {
protected:
    void put(const std::string& type, const std::string& data) { writeFile(board_ / type, data); }
    Clip capture() {
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

const std::string kSecret = "That looks like a password or a one-time code, so it was not added to Morsels.";
const std::string kEmpty = "The clipboard is empty.";
const std::string kUnreadable = "That file couldn't be read.";

TEST_F(ClipTest, SecretMarkersRefuseEvenHarmlessContent) {
    put("public.utf8-plain-text", "hello");
    put("org.nspasteboard.ConcealedType", "");
    EXPECT_EQ(refusal(), kSecret);

    // A marker wins before the copied file is even looked at.
    std::filesystem::remove(board_ / "org.nspasteboard.ConcealedType");
    put("public.file-url", fileURL("missing.txt"));
    put("de.petermaurer.TransientPasteboardType", "");
    EXPECT_EQ(refusal(), kSecret);
}

TEST_F(ClipTest, KdePasswordHintCountsOnlyWhenSecret) {
    put("public.utf8-plain-text", "hello");
    put("x-kde-passwordManagerHint", "other");
    EXPECT_EQ(capture().text, "hello");
    put("x-kde-passwordManagerHint", "secret\n");
    EXPECT_EQ(refusal(), kSecret);
}

TEST_F(ClipTest, TextLimitCountsUTF8BytesAfterTrimming) {
    std::string text;
    for (int i = 0; i < 10240; ++i) text += "\xC3\xA9";  // é: two bytes each, 20,480 in all
    put("public.utf8-plain-text", "  \n\t" + text + " \r\n");
    Clip clip = capture();
    EXPECT_EQ(clip.kind, Clip::Kind::text);
    EXPECT_EQ(clip.text, text);

    put("public.utf8-plain-text", text + "x");
    EXPECT_EQ(refusal(), "That is too long for a morsel (over 20 KB). Save it as a file instead.");
}

TEST_F(ClipTest, BlankTextWithoutPictureIsEmpty) {
    put("public.utf8-plain-text", "   \n");
    EXPECT_EQ(refusal(), kEmpty);
    std::filesystem::remove(board_ / "public.utf8-plain-text");
    EXPECT_EQ(refusal(), kEmpty);
}

TEST_F(ClipTest, CopiedFileWinsOverTextUpToTheSizeLimit) {
    writeFile(files_ / "a\"b.txt", std::string(5242880, 'z'));
    writeFile(files_ / "second.txt", "ignored");
    put("public.file-url", "file://" + files_.path().string() + "/a%22b.txt\n" + fileURL("second.txt") + "\n");
    put("public.utf8-plain-text", "some text");
    Clip clip = capture();
    EXPECT_EQ(clip.kind, Clip::Kind::file);
    EXPECT_EQ(clip.name, "a\"b.txt");
    EXPECT_EQ(clip.data.size(), 5242880u);

    writeFile(files_ / "a\"b.txt", std::string(5242881, 'z'));
    EXPECT_EQ(refusal(), "That file is too big for a morsel (over 5 MB).");
}

TEST_F(ClipTest, FileURLsThatCannotBeReadAreRefusedClearly) {
    put("public.utf8-plain-text", "fallback text");
    put("public.file-url", fileURL("missing.txt"));
    EXPECT_EQ(refusal(), kUnreadable);

    // A folder or a pipe is not read (a pipe would block for ever).
    put("public.file-url", "file://" + files_.path().string());
    EXPECT_EQ(refusal(), kUnreadable);
    ASSERT_EQ(::mkfifo((files_ / "pipe").c_str(), 0600), 0);
    put("public.file-url", fileURL("pipe"));
    EXPECT_EQ(refusal(), kUnreadable);

    put("public.file-url", "file://otherhost/etc/hostname");
    EXPECT_EQ(refusal(), kUnreadable);

    put("public.file-url", "/just/a/path.txt");
    EXPECT_EQ(refusal(), "The clipboard holds a file address that isn't a URL: /just/a/path.txt");
    put("public.file-url", "file://localhost/bad%zzescape");
    EXPECT_EQ(refusal(), "The clipboard holds a file address that isn't a valid file URL: file://localhost/bad%zzescape");
}

TEST_F(ClipTest, WebAddressesAreNotCopiedFiles) {
    writeFile(files_ / "notes.md", "# notes");
    put("public.file-url", "# comment\nhttps://example.org/x\nfile://localhost" + (files_ / "notes.md").string());
    EXPECT_EQ(capture().name, "notes.md");

    put("public.file-url", "https://example.org/x");
    put("public.utf8-plain-text", "the text");
    EXPECT_EQ(capture().text, "the text");
}

TEST_F(ClipTest, PNGIsSentAsIsAndTIFFIsConvertedToPNG) {
    put("public.png", "\x89PNG-bytes");
    put("public.tiff", test::makeTIFF(3, 2));
    EXPECT_EQ(capture().data, "\x89PNG-bytes");

    std::filesystem::remove(board_ / "public.png");
    Clip clip = capture();
    EXPECT_EQ(clip.name, "Clipboard picture.png");
    std::optional<test::DecodedPNG> png = test::decodePNG(clip.data);
    ASSERT_TRUE(png);
    EXPECT_EQ(png->width, 3u);
    EXPECT_EQ(png->height, 2u);
    // Pixel (2, 1), top row first: (80, 40, 200), opaque.
    const uint8_t* pixel = &png->rgba[(1 * 3 + 2) * 4];
    EXPECT_EQ((std::vector<int>{pixel[0], pixel[1], pixel[2], pixel[3]}), (std::vector<int>{80, 40, 200, 255}));
}

TEST_F(ClipTest, PicturesAreCheckedForSizeAndValidity) {
    put("public.tiff", "II*\0 not really a tiff");
    EXPECT_EQ(refusal(), kEmpty);
    EXPECT_FALSE(PNG::fromTIFF(""));

    put("public.png", std::string(5242881, 'p'));
    EXPECT_EQ(refusal(), "That picture is too big for a morsel (over 5 MB).");
}

TEST(NamedPasteboardTest, MissingFolderIsAnErrorAndTypesAreItsFiles) {
    test::TempDir folder;
    EXPECT_THROW(NamedPasteboard(folder / "nope"), Error);
    writeFile(folder / "public.png", "x");
    writeFile(folder / "org.nspasteboard.ConcealedType", "");
    std::filesystem::create_directory(folder / "subfolder");
    NamedPasteboard pasteboard(folder.path());
    EXPECT_EQ(pasteboard.types(), (std::vector<std::string>{"org.nspasteboard.ConcealedType", "public.png"}));
    EXPECT_EQ(pasteboard.data("public.png"), "x");
    EXPECT_FALSE(pasteboard.data("../escape"));
    EXPECT_FALSE(pasteboard.data("public.tiff"));
}

}  // namespace
}  // namespace brindle
