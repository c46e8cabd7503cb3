#ifdef BRINDLE_HAVE_QT

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QUrl>
#include <algorithm>
#include <optional>

#include "morsels/Morsels.h"
#include "platform/qt/SystemPasteboard.h"
#include "support/ScopedEnv.h"

namespace brindle {
namespace {

bool holds(const std::vector<std::string>& types, const std::string& type) {
    return std::find(types.begin(), types.end(), type) != types.end();
}

// Qt's offscreen platform keeps a clipboard inside the process, so the MIME
// mapping can be checked without a display.
class SystemPasteboardTest : public ::testing::Test {
protected:
    test::ScopedEnv platform_{"QT_QPA_PLATFORM", "offscreen"};
    SystemPasteboard pasteboard_;
};

TEST_F(SystemPasteboardTest, MimeTypesReadUnderPasteboardIdentifiers) {
    ASSERT_EQ(pasteboard_.unavailable(), "");
    auto* mime = new QMimeData;
    mime->setText("hunter2");
    mime->setUrls({QUrl::fromLocalFile("/tmp/a\"b c.txt")});
    QGuiApplication::clipboard()->setMimeData(mime);
    EXPECT_TRUE(holds(pasteboard_.types(), Pasteboard::kPlainText));
    EXPECT_EQ(pasteboard_.data(Pasteboard::kPlainText), "hunter2");
    EXPECT_EQ(pasteboard_.urls(), (std::vector<std::string>{"file:///tmp/a%22b%20c.txt"}));

    mime = new QMimeData;
    mime->setText("hunter2");
    mime->setData("x-kde-passwordManagerHint", "secret");
    QGuiApplication::clipboard()->setMimeData(mime);
    EXPECT_THROW(Morsels::clip(pasteboard_), Morsels::Problem);
}

TEST_F(SystemPasteboardTest, ImagesAreOfferedAsPNG) {
    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(Qt::red);
    auto* mime = new QMimeData;
    mime->setImageData(image);
    QGuiApplication::clipboard()->setMimeData(mime);
    ASSERT_TRUE(holds(pasteboard_.types(), Pasteboard::kPNG));
    Morsels::Clip clip = Morsels::clip(pasteboard_);
    EXPECT_EQ(clip.name, "Clipboard picture.png");
    EXPECT_EQ(clip.data.substr(0, 4), "\x89PNG");
}

TEST(SystemPasteboardDisplayTest, WithoutADisplayItReadsAsEmptyAndSaysWhy) {
    test::ScopedEnv unset(
        {{"QT_QPA_PLATFORM", std::nullopt}, {"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}});
    SystemPasteboard pasteboard;
    EXPECT_NE(pasteboard.unavailable().find("without a display"), std::string::npos);
    EXPECT_TRUE(pasteboard.types().empty());
    EXPECT_FALSE(pasteboard.data(Pasteboard::kPlainText));
}

}  // namespace
}  // namespace brindle

#endif
