#include "agent/pngencoder.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

namespace vask {
namespace {

constexpr std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kStoredBlockMax = 65535;  // a stored block's length is 16 bits
constexpr std::uint8_t kColourTypeRgb = 2;

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}
constexpr auto kCrcTable = MakeCrcTable();

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) crc = kCrcTable[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::uint32_t Adler32(const std::vector<std::uint8_t>& data) {
    constexpr std::uint32_t kBase = 65521;
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t byte : data) {
        a = (a + byte) % kBase;
        b = (b + a) % kBase;
    }
    return (b << 16) | a;
}

void PutBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void PutLittleEndian16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

// Length, type, data, and the CRC of type and data.
void PutChunk(std::vector<std::uint8_t>& out, std::string_view type,
              const std::vector<std::uint8_t>& data) {
    PutBigEndian(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t typeStart = out.size();
    out.insert(out.end(), type.begin(), type.end());
    out.insert(out.end(), data.begin(), data.end());
    PutBigEndian(out, Crc32(out.data() + typeStart, out.size() - typeStart));
}

// A zlib stream (no preset dictionary, 32K window) of stored deflate blocks.
std::vector<std::uint8_t> StoredZlib(const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> out{0x78,
                                  0x01};  // a header whose check bits make it a multiple of 31
    out.reserve(data.size() + data.size() / kStoredBlockMax * 5 + 16);
    std::size_t offset = 0;
    do {
        const std::size_t length = std::min(kStoredBlockMax, data.size() - offset);
        const bool last = offset + length == data.size();
        out.push_back(last ? 1 : 0);  // BFINAL, and block type 00: stored
        PutLittleEndian16(out, static_cast<std::uint16_t>(length));
        PutLittleEndian16(out, static_cast<std::uint16_t>(~length));
        out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(offset),
                   data.begin() + static_cast<std::ptrdiff_t>(offset + length));
        offset += length;
    } while (offset < data.size());
    PutBigEndian(out, Adler32(data));
    return out;
}

}  // namespace

std::vector<std::uint8_t> EncodePng(std::uint32_t width, std::uint32_t height,
                                    const std::vector<std::uint8_t>& rgb) {
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    if (width == 0 || height == 0 || rgb.size() != rowBytes * height) return {};
    // Each row is preceded by its filter type, 0 (none).
    std::vector<std::uint8_t> scanlines;
    scanlines.reserve((rowBytes + 1) * height);
    for (std::uint32_t y = 0; y < height; ++y) {
        scanlines.push_back(0);
        const auto row = rgb.begin() + static_cast<std::ptrdiff_t>(rowBytes * y);
        scanlines.insert(scanlines.end(), row, row + static_cast<std::ptrdiff_t>(rowBytes));
    }
    std::vector<std::uint8_t> header;
    PutBigEndian(header, width);
    PutBigEndian(header, height);
    // Bit depth 8, RGB, deflate, no filtering beyond the per-row type, not interlaced.
    header.insert(header.end(), {8, kColourTypeRgb, 0, 0, 0});

    std::vector<std::uint8_t> png(std::begin(kSignature), std::end(kSignature));
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", StoredZlib(scanlines));
    PutChunk(png, "IEND", {});
    return png;
}

}  // namespace vask
