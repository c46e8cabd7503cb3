#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brindle::PNG {

// The first image of a TIFF file, re-encoded as PNG: 8 bits per channel, RGB,
// or RGBA when any pixel is not fully opaque. Nothing when the bytes are not
// a TIFF that can be decoded, or the image is implausibly large (more than
// 100 million pixels) to decode in memory.
std::optional<std::string> fromTIFF(std::string_view tiff);

}  // namespace brindle::PNG
