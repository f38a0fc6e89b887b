#pragma once
// A minimal PNG writer: 8-bit RGB, no filtering, the image data in stored (uncompressed)
// deflate blocks. Same pixels, same bytes.

#include <cstdint>
#include <vector>

namespace vask {

// rgb holds height rows of width pixels, 3 bytes each (red, green, blue), top row first.
// Answers the whole file, or nothing when the sizes do not match or width or height is 0.
std::vector<std::uint8_t> EncodePng(std::uint32_t width, std::uint32_t height,
                                    const std::vector<std::uint8_t>& rgb);

}  // namespace vask
