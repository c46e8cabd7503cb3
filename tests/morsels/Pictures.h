#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brindle::test {

// A small RGB TIFF made with libtiff: pixel (x, y) is (x*40, y*40, 200).
std::string makeTIFF(uint32_t width, uint32_t height);

struct DecodedPNG {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgba;  // 4 bytes a pixel, top row first
};
// The PNG decoded with libpng, or nothing when it is not a valid PNG.
std::optional<DecodedPNG> decodePNG(const std::string& png);

}  // namespace brindle::test
