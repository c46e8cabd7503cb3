#include "Pictures.h"

#include "support/TempDir.h"

#include <png.h>
#include <tiffio.h>

#include <cstring>

namespace brindle::test {

std::string makeTIFF(uint32_t width, uint32_t height) {
    TempDir folder;
    std::string path = (folder / "picture.tiff").string();
    TIFF* image = TIFFOpen(path.c_str(), "w");
    if (!image) return "";
    TIFFSetField(image, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(image, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(image, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(image, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(image, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(image, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(image, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(image, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    std::vector<uint8_t> row(width * 3);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            row[x * 3] = static_cast<uint8_t>(x * 40);
            row[x * 3 + 1] = static_cast<uint8_t>(y * 40);
            row[x * 3 + 2] = 200;
        }
        TIFFWriteScanline(image, row.data(), y, 0);
    }
    TIFFClose(image);
    return readFile(path);
}

std::optional<DecodedPNG> decodePNG(const std::string& png) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return std::nullopt;
    image.format = PNG_FORMAT_RGBA;
    DecodedPNG decoded{image.width, image.height, std::vector<uint8_t>(PNG_IMAGE_SIZE(image))};
    if (!png_image_finish_read(&image, nullptr, decoded.rgba.data(), 0, nullptr)) return std::nullopt;
    return decoded;
}

}  // namespace brindle::test
