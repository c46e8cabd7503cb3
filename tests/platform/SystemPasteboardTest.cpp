#ifdef BRINDLE_HAVE_QT

#include "platform/qt/SystemPasteboard.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QUrl>

#include "morsels/Morsels.h"
#include "support/ScopedEnv.h"

namespace brindle {
namespace {

bool holds(const std::vector<std::string>& types, const std::string& type) {
    return std::find(types.begin(), types.end(), type) != types.end();
}

// Qt's offscreen platform keeps a clipboard inside the process, so the MIME
// mapping can be checked without a display.
TEST(SystemPasteboardTest, MimeTypesImagesAndSecretMarkersReadUnderPasteboardIdentifiers) {
    test::ScopedEnv platform("QT_QPA_PLATFORM", "offscreen");
    SystemPasteboard pasteboard;
    ASSERT_EQ(pasteboard.unavailable(), "");
    auto copy = [](auto fill) {
        auto* mime = new QMimeData;
        fill(*mime);
        QGuiApplication::clipboard()->setMimeData(mime);
    };
    copy([](QMimeData& mime) {
        mime.setText("hunter2");
        mime.setUrls({QUrl::fromLocalFile("/tmp/a\"b c.txt")});
    });
    EXPECT_TRUE(holds(pasteboard.types(), Pasteboard::kPlainText));
    EXPECT_EQ(pasteboard.data(Pasteboard::kPlainText), "hunter2");
    EXPECT_EQ(pasteboard.urls(), (std::vector<std::string>{"file:///tmp/a%22b%20c.txt"}));

    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(Qt::red);
    copy([&](QMimeData& mime) { mime.setImageData(image); });
    ASSERT_TRUE(holds(pasteboard.types(), Pasteboard::kPNG));
    EXPECT_EQ(Morsels::clip(pasteboard).data.substr(0, 4), "\x89PNG");
}

}  // namespace
}  // namespace brindle

#endif
