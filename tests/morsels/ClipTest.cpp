#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <tiffio.h>

#include "morsels/Morsels.h"
#include "platform/NamedPasteboard.h"
#include "support/Expect.h"
#include "support/TempDir.h"

namespace brindle {
namespace {

using Board = std::map<std::string, std::string>;  // pasteboard type -> data

// A small RGB TIFF made with libtiff.
std::string makeTIFF(const std::filesystem::path& path, uint32_t width, uint32_t height) {
    TIFF* image = TIFFOpen(path.c_str(), "w");
    for (auto [tag, value] : {std::pair<int, int>{TIFFTAG_SAMPLESPERPIXEL, 3},
                              {TIFFTAG_BITSPERSAMPLE, 8},
                              {TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB},
                              {TIFFTAG_COMPRESSION, COMPRESSION_LZW}})
        TIFFSetField(image, tag, value);
    TIFFSetField(image, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(image, TIFFTAG_IMAGELENGTH, height);
    std::vector<uint8_t> row(size_t{width} * 3, 200);
    for (uint32_t y = 0; y < height; ++y) TIFFWriteScanline(image, row.data(), y, 0);
    TIFFClose(image);
    return test::readFile(path);
}

// The size of a PNG that libpng decodes, (0, 0) when it does not.
std::pair<uint32_t, uint32_t> pngSize(const std::string& png) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return {0, 0};
    image.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    bool read = png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr);
    return read ? std::pair(image.width, image.height) : std::pair(0u, 0u);
}

// What a copy on the clipboard becomes, and what is refused.
class ClipTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::writeFile(files_ / "max.bin", std::string(5242880, 'z'));
        test::writeFile(files_ / "over.bin", std::string(5242881, 'z'));
        ASSERT_EQ(::mkfifo((files_ / "pipe").c_str(), 0600), 0);
    }
    Morsels::Clip capture(const Board& board) {
        std::filesystem::remove_all(board_.path());
        for (const auto& [type, data] : board) test::writeFile(board_ / type, data);
        NamedPasteboard pasteboard(board_.path());
        return Morsels::clip(pasteboard);
    }
    std::string refusal(const Board& board) {
        return test::failureText<Morsels::Problem>([&] { capture(board); });
    }
    std::string fileURL(const std::string& name) { return "file://" + (files_ / name).string(); }

    test::TempDir board_;
    test::TempDir files_;
};

TEST_F(ClipTest, EveryRefusalWithWhatTriggersIt) {
    const std::string unreadable = "That file couldn't be read.";
    const std::string text(20478, 'a');
    // clang-format off
    const std::pair<Board, std::string> rows[] = {
        {{{"public.file-url", fileURL("missing")}, {"x-kde-passwordManagerHint", "other"}}, unreadable},
        {{{"public.file-url", fileURL("missing")}, {"x-kde-passwordManagerHint", "secret\n"}}, "That looks like a password or a one-time code, so it was not added to Morsels."},
        {{{"public.file-url", fileURL("pipe")}}, unreadable},  // would block for ever
        {{{"public.file-url", "file://host/etc/hostname"}}, unreadable},
        {{{"public.file-url", "file://localhost/bad%zzescape"}}, "The clipboard holds a file address that isn't a valid file URL: file://localhost/bad%zzescape"},
        {{{"public.file-url", "not a url"}, {"public.utf8-plain-text", "fallback"}}, "The clipboard holds a file address that isn't a URL: not a url"},
        {{{"public.file-url", fileURL("over.bin")}}, "That file is too big for a morsel (over 5 MB)."},
        {{{"public.utf8-plain-text", "\n  " + text + "\u00E9a\t\n"}}, "That is too long for a morsel (over 20 KB). Save it as a file instead."},
        {{{"public.utf8-plain-text", "\u00A0\u3000"}, {"public.tiff", "II*"}}, "The clipboard is empty."},
        {{{"public.png", std::string(5242881, 'p')}}, "That picture is too big for a morsel (over 5 MB)."},
    };
    // clang-format on
    for (const auto& [board, expected] : rows) EXPECT_EQ(refusal(board), expected) << board.begin()->second;
}

TEST_F(ClipTest, FilesBeatTextAndTextAndPicturesAreTakenUpToTheLimits) {
    Morsels::Clip file =
        capture({{"public.file-url", "https://example.org/page\n" + fileURL("max.bin") + "\n" + fileURL("missing")},
                 {"public.utf8-plain-text", "some text"}});
    EXPECT_EQ(file.name, "max.bin");
    EXPECT_EQ(file.data.size(), 5242880u);
    EXPECT_EQ(capture({{"public.utf8-plain-text", "\u00A0\u2003note to self\u00A0\n"}}).text, "note to self");
    const std::string text = std::string(20478, 'a') + "\xC3\xA9";  // exactly 20,480 bytes
    Morsels::Clip clip = capture({{"public.utf8-plain-text", "\n  " + text + "\t\n"}});
    EXPECT_EQ(clip.kind, Morsels::Clip::Kind::text);
    EXPECT_EQ(clip.text, text);
    Morsels::Clip picture = capture({{"public.tiff", makeTIFF(files_ / "picture.tiff", 4, 3)}});
    EXPECT_EQ(picture.name, "Clipboard picture.png");
    EXPECT_EQ(pngSize(picture.data), std::pair(4u, 3u));
}

}  // namespace
}  // namespace brindle
