#include "morsels/PNG.h"

#include <png.h>
#include <tiffio.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace brindle::PNG {

namespace {

constexpr unsigned long long kMaxPixels = 100'000'000ULL;

// An in-memory TIFF for libtiff's client interface.
struct Source {
    std::string_view bytes;
    toff_t offset = 0;
};

tsize_t readBytes(thandle_t handle, tdata_t buffer, tsize_t size) {
    auto* source = static_cast<Source*>(handle);
    if (size <= 0 || source->offset >= source->bytes.size()) return 0;
    size_t count = std::min<size_t>(static_cast<size_t>(size), source->bytes.size() - source->offset);
    std::memcpy(buffer, source->bytes.data() + source->offset, count);
    source->offset += count;
    return static_cast<tsize_t>(count);
}

tsize_t writeBytes(thandle_t, tdata_t, tsize_t) { return 0; }

toff_t seekTo(thandle_t handle, toff_t offset, int whence) {
    auto* source = static_cast<Source*>(handle);
    long long base = whence == SEEK_CUR ? static_cast<long long>(source->offset)
                     : whence == SEEK_END ? static_cast<long long>(source->bytes.size())
                                          : 0;
    long long target = base + static_cast<long long>(offset);
    if (target < 0) return static_cast<toff_t>(-1);
    source->offset = static_cast<toff_t>(target);
    return source->offset;
}

int closeSource(thandle_t) { return 0; }
toff_t sizeOf(thandle_t handle) { return static_cast<Source*>(handle)->bytes.size(); }
int mapNothing(thandle_t, tdata_t*, toff_t*) { return 0; }
void unmapNothing(thandle_t, tdata_t, toff_t) {}

// libtiff reports through process-wide handlers that print to standard
// error; a bad clipboard picture is reported by the caller instead.
void silenceLibtiff() {
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

struct Pixels {
    uint32_t width = 0, height = 0;
    std::vector<uint32_t> rgba;  // ABGR-packed as libtiff delivers, top row first
};

std::optional<Pixels> decode(std::string_view tiff) {
    silenceLibtiff();
    Source source{tiff};
    std::unique_ptr<TIFF, void (*)(TIFF*)> image(
        TIFFClientOpen("clipboard", "rm", &source, readBytes, writeBytes, seekTo, closeSource, sizeOf, mapNothing,
                       unmapNothing),
        TIFFClose);
    if (!image) return std::nullopt;
    Pixels pixels;
    TIFFGetField(image.get(), TIFFTAG_IMAGEWIDTH, &pixels.width);
    TIFFGetField(image.get(), TIFFTAG_IMAGELENGTH, &pixels.height);
    unsigned long long count = 1ULL * pixels.width * pixels.height;
    if (count == 0 || count > kMaxPixels) return std::nullopt;
    pixels.rgba.resize(count);
    if (!TIFFReadRGBAImageOriented(image.get(), pixels.width, pixels.height, pixels.rgba.data(), ORIENTATION_TOPLEFT,
                                   0))
        return std::nullopt;
    return pixels;
}

std::optional<std::string> encode(const Pixels& pixels) {
    bool opaque = true;
    for (uint32_t pixel : pixels.rgba)
        if (TIFFGetA(pixel) != 255) {
            opaque = false;
            break;
        }
    const size_t channels = opaque ? 3 : 4;
    std::vector<unsigned char> rows(pixels.rgba.size() * channels);
    for (size_t i = 0; i < pixels.rgba.size(); ++i) {
        unsigned char* out = &rows[i * channels];
        out[0] = static_cast<unsigned char>(TIFFGetR(pixels.rgba[i]));
        out[1] = static_cast<unsigned char>(TIFFGetG(pixels.rgba[i]));
        out[2] = static_cast<unsigned char>(TIFFGetB(pixels.rgba[i]));
        if (!opaque) out[3] = static_cast<unsigned char>(TIFFGetA(pixels.rgba[i]));
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = pixels.width;
    image.height = pixels.height;
    image.format = opaque ? PNG_FORMAT_RGB : PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, rows.data(), 0, nullptr)) return std::nullopt;
    std::string png(size, '\0');
    if (!png_image_write_to_memory(&image, png.data(), &size, 0, rows.data(), 0, nullptr)) return std::nullopt;
    png.resize(size);
    return png;
}

}  // namespace

std::optional<std::string> fromTIFF(std::string_view tiff) {
    std::optional<Pixels> pixels = decode(tiff);
    if (!pixels) return std::nullopt;
    return encode(*pixels);
}

}  // namespace brindle::PNG
