#pragma once

#include "platform/Pasteboard.h"

#include <memory>
#include <string>

class QGuiApplication;
class QMimeData;

namespace brindle {

// The desktop's clipboard through Qt. MIME types are presented under the
// pasteboard's type identifiers: text/plain as "public.utf8-plain-text",
// text/uri-list (or GNOME's copied-files list) as "public.file-url",
// image/png as "public.png" (any other image Qt can read is offered as PNG
// too), image/tiff as "public.tiff"; every other MIME type, such as KDE's
// "x-kde-passwordManagerHint", keeps its own name.
//
// Uses the running QGuiApplication when there is one (the tray application);
// otherwise starts one for its own lifetime. Without a display (neither
// DISPLAY nor WAYLAND_DISPLAY set, and no QT_QPA_PLATFORM chosen) nothing is
// started; when the display cannot be opened Qt falls back to its offscreen
// platform instead of aborting. Either way the clipboard reads as empty and
// unavailable() says why. Use it on the thread that owns the Qt application.
class SystemPasteboard final : public Pasteboard {
public:
    SystemPasteboard();
    ~SystemPasteboard() override;
    SystemPasteboard(const SystemPasteboard&) = delete;
    SystemPasteboard& operator=(const SystemPasteboard&) = delete;

    std::vector<std::string> types() override;
    std::optional<std::string> data(const std::string& type) override;

    // Why the clipboard cannot be read, or "" when it can.
    const std::string& unavailable() const { return unavailable_; }

private:
    const QMimeData* mime() const;

    std::unique_ptr<QGuiApplication> ownApplication_;
    std::string unavailable_;
};

}  // namespace brindle
