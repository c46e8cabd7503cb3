#include "platform/qt/SystemPasteboard.h"

#include "common/Files.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QUrl>

#include <algorithm>

namespace brindle {

namespace {

const char* const kGnomeCopiedFiles = "x-special/gnome-copied-files";

bool hasDisplay() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        if (!Files::env(name).value_or("").empty()) return true;
    return false;
}

std::string bytes(const QByteArray& array) { return std::string(array.constData(), static_cast<size_t>(array.size())); }

// The identifier a MIME type is presented under.
std::string identifierFor(const QString& format) {
    if (format == "text/plain" || format.startsWith("text/plain;")) return Pasteboard::kPlainText;
    if (format == "text/uri-list" || format == kGnomeCopiedFiles) return Pasteboard::kFileURL;
    if (format == "image/png") return Pasteboard::kPNG;
    if (format == "image/tiff") return Pasteboard::kTIFF;
    return format.toStdString();
}

// One URL per line, from text/uri-list or from GNOME's list, whose first line
// says "copy" or "cut".
std::optional<std::string> fileURLs(const QMimeData& mime) {
    QStringList lines;
    if (mime.hasUrls()) {
        for (const QUrl& url : mime.urls()) lines << url.toString(QUrl::FullyEncoded);
    } else if (mime.hasFormat(kGnomeCopiedFiles)) {
        lines = QString::fromUtf8(mime.data(kGnomeCopiedFiles)).split('\n', Qt::SkipEmptyParts);
        if (!lines.isEmpty()) lines.removeFirst();
    }
    if (lines.isEmpty()) return std::nullopt;
    return lines.join('\n').toStdString();
}

std::optional<std::string> png(const QMimeData& mime) {
    if (mime.hasFormat("image/png")) return bytes(mime.data("image/png"));
    if (!mime.hasImage()) return std::nullopt;
    QImage image = qvariant_cast<QImage>(mime.imageData());
    if (image.isNull()) return std::nullopt;
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) return std::nullopt;
    return bytes(encoded);
}

}  // namespace

SystemPasteboard::SystemPasteboard() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
    if (QCoreApplication::instance()) {
        unavailable_ = "The system clipboard can't be read from this process (it runs without a window system).";
        return;
    }
    if (!hasDisplay()) {
        unavailable_ = "The system clipboard can't be read without a display (DISPLAY and WAYLAND_DISPLAY are unset).";
        return;
    }
    // Qt aborts the process when its platform cannot start (a display that
    // is gone, say); falling back to the offscreen platform lets us say so.
    const bool chosen = !Files::env("QT_QPA_PLATFORM").value_or("").empty();
    if (!chosen)
        qputenv("QT_QPA_PLATFORM", Files::env("WAYLAND_DISPLAY").value_or("").empty() ? "xcb;offscreen"
                                                                                      : "wayland;xcb;offscreen");
    // Qt keeps references to argc and argv for the application's lifetime.
    static int argc = 1;
    static char name[] = "brindle";
    static char* argv[] = {name, nullptr};
    ownApplication_ = std::make_unique<QGuiApplication>(argc, argv);
    if (!chosen) {
        qunsetenv("QT_QPA_PLATFORM");  // not for the programs we start
        if (QGuiApplication::platformName() == "offscreen")
            unavailable_ = "The system clipboard can't be read: the display could not be opened.";
    }
}

SystemPasteboard::~SystemPasteboard() = default;

const QMimeData* SystemPasteboard::mime() const {
    if (!unavailable_.empty()) return nullptr;
    QClipboard* clipboard = QGuiApplication::clipboard();
    return clipboard ? clipboard->mimeData(QClipboard::Clipboard) : nullptr;
}

std::vector<std::string> SystemPasteboard::types() {
    std::vector<std::string> found;
    const QMimeData* current = mime();
    if (!current) return found;
    for (const QString& format : current->formats()) {
        std::string identifier = identifierFor(format);
        if (std::find(found.begin(), found.end(), identifier) == found.end()) found.push_back(identifier);
    }
    if (current->hasImage() && std::find(found.begin(), found.end(), kPNG) == found.end()) found.push_back(kPNG);
    return found;
}

std::optional<std::string> SystemPasteboard::data(const std::string& type) {
    const QMimeData* current = mime();
    if (!current) return std::nullopt;
    if (type == kPlainText) {
        if (!current->hasText()) return std::nullopt;
        return current->text().toStdString();
    }
    if (type == kFileURL) return fileURLs(*current);
    if (type == kPNG) return png(*current);
    QString format = type == kTIFF ? QStringLiteral("image/tiff") : QString::fromStdString(type);
    if (!current->hasFormat(format)) return std::nullopt;
    return bytes(current->data(format));
}

}  // namespace brindle
