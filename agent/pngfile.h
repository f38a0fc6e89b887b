#pragma once
// PNG files written by the platform's imaging component (its PNG encoder, compressed).

#include <cstdint>
#include <vector>

namespace vask {

// Writes height rows of width pixels, each a 32-bit 0x00RRGGBB value, top row first, as an
// 8-bit RGB PNG file at path (created or replaced). False (and a debug trace) when the sizes
// do not match the pixels, COM or the encoder is not available, or the file cannot be
// written; a partial file is removed.
bool WritePngFile(const wchar_t* path, std::uint32_t width, std::uint32_t height,
                  const std::vector<std::uint32_t>& pixels);

}  // namespace vask
