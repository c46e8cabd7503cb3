#include "morsels/Morsels.h"

#include "common/Log.h"
#include "common/Text.h"
#include "morsels/FileURL.h"
#include "morsels/PNG.h"
#include "platform/Pasteboard.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brindle::Morsels {

namespace {

const char* const kSecretRefusal = "That looks like a password or a one-time code, so it was not added to Morsels.";
const char* const kFileTooBig = "That file is too big for a morsel (over 5 MB).";
const char* const kFileUnreadable = "That file couldn't be read.";
const char* const kTextTooLong = "That is too long for a morsel (over 20 KB). Save it as a file instead.";
const char* const kEmpty = "The clipboard is empty.";
const char* const kPictureTooBig = "That picture is too big for a morsel (over 5 MB).";

bool holdsSecret(Pasteboard& pasteboard) {
    for (const std::string& type : pasteboard.types()) {
        for (const char* secret : secretTypes)
            if (type == secret) return true;
        if (type == kPasswordManagerHint && Text::trim(pasteboard.data(type).value_or("")) == "secret") return true;
    }
    return false;
}

// Closes a descriptor when the read is done.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

// The whole of a regular file, refusing it when it is bigger than a morsel.
// Only regular files are read: a pipe or a device could block or never end.
std::string readCopiedFile(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && static_cast<unsigned long long>(info.st_size) > kMaxFileBytes)
        throw Problem(kFileTooBig);
    Descriptor file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)};
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) throw Problem(kFileUnreadable);
    std::string bytes;
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(file.fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw Problem(kFileUnreadable);
        if (got == 0) break;
        bytes.append(buffer, static_cast<size_t>(got));
        // The file grew after its size was read.
        if (bytes.size() > kMaxFileBytes) throw Problem(kFileTooBig);
    }
    return bytes;
}

std::optional<Clip> copiedFile(Pasteboard& pasteboard) {
    for (const std::string& url : pasteboard.urls()) {
        std::optional<FileURL::Location> location = FileURL::parse(url);
        if (!location) continue;  // a web address, not a copied file
        if (!location->local) throw Problem(kFileUnreadable);
        std::string name = location->path.substr(location->path.find_last_of('/') + 1);
        return Clip::makeFile(readCopiedFile(location->path), name);
    }
    return std::nullopt;
}

std::optional<Clip> copiedText(Pasteboard& pasteboard) {
    std::optional<std::string> raw = pasteboard.data(Pasteboard::kPlainText);
    if (!raw) return std::nullopt;
    std::string text = Text::trimUnicode(Text::lossyUTF8(*raw));
    if (text.empty()) return std::nullopt;
    if (text.size() > kMaxTextBytes) throw Problem(kTextTooLong);
    return Clip::makeText(std::move(text));
}

Clip copiedPicture(Pasteboard& pasteboard) {
    std::string png = pasteboard.data(Pasteboard::kPNG).value_or("");
    if (png.empty()) {
        std::string tiff = pasteboard.data(Pasteboard::kTIFF).value_or("");
        if (!tiff.empty()) {
            png = PNG::fromTIFF(tiff).value_or("");
            if (png.empty()) Log::write("Morsels: the clipboard's TIFF picture could not be converted to PNG");
        }
    }
    if (png.empty()) throw Problem(kEmpty);
    if (png.size() > kMaxFileBytes) throw Problem(kPictureTooBig);
    return Clip::makeFile(std::move(png), kPictureName);
}

}  // namespace

Clip clip(Pasteboard& pasteboard) {
    if (holdsSecret(pasteboard)) throw Problem(kSecretRefusal);
    if (std::optional<Clip> file = copiedFile(pasteboard)) return std::move(*file);
    if (std::optional<Clip> text = copiedText(pasteboard)) return std::move(*text);
    return copiedPicture(pasteboard);
}

}  // namespace brindle::Morsels
