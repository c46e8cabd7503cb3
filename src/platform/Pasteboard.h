#pragma once

#include <optional>
#include <string>
#include <vector>

namespace brindle {

// A clipboard seen as a set of typed representations, each named by a type
// identifier ("public.utf8-plain-text", "public.file-url", "public.png",
// "public.tiff", or a marker such as "org.nspasteboard.ConcealedType") and
// holding bytes. Implementations: NamedPasteboard (a folder, for tests and
// scripts) and, in the Qt layer, the system clipboard.
//
// Reading may block briefly (the system clipboard asks its owner); call it
// from background work or a command-line mode.
class Pasteboard {
public:
    static constexpr const char* kPlainText = "public.utf8-plain-text";
    static constexpr const char* kFileURL = "public.file-url";  // one URL per line
    static constexpr const char* kPNG = "public.png";
    static constexpr const char* kTIFF = "public.tiff";

    virtual ~Pasteboard() = default;

    // Every type the pasteboard holds, in a stable order.
    virtual std::vector<std::string> types() = 0;
    // The data of one type, or nothing when the type is absent or unreadable.
    virtual std::optional<std::string> data(const std::string& type) = 0;

    // The non-empty lines of the "public.file-url" type, trimmed, without
    // "#" comment lines (as in text/uri-list). Empty when the type is absent.
    std::vector<std::string> urls();
};

}  // namespace brindle
