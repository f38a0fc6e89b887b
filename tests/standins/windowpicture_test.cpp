// The hooking host's window pictures: PNG files read back with a reader of the test's own.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "agent/windowpicture.h"
#include "support/tempdirectory.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr COLORREF kParentColour = RGB(200, 30, 30);
constexpr COLORREF kPanelColour = RGB(20, 40, 220);
constexpr COLORREF kCoverColour = RGB(30, 160, 40);
constexpr wchar_t kParentClass[] = L"Tarnwick.Test.PictureParent";
constexpr wchar_t kPanelClass[] = L"Tarnwick.Test.PicturePanel";
constexpr wchar_t kCoverClass[] = L"Tarnwick.Test.PictureCover";

Bytes ReadBytes(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t BigEndian(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | bytes[3];
}

// The platform's CRC-32, so that the writer's own is checked against another.
std::uint32_t PlatformCrc32(const std::uint8_t* bytes, size_t size) {
    using Crc = DWORD(WINAPI*)(DWORD, const BYTE*, INT);
    static const auto crc = reinterpret_cast<Crc>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlComputeCrc32")));
    return crc(0, bytes, static_cast<INT>(size));
}

std::uint32_t Adler32(const Bytes& data) {
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t byte : data) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

struct Png {
    std::uint32_t width = 0, height = 0;
    Bytes scanlines;  // each row: its filter type, then 3 bytes a pixel
};

// Inflates a zlib stream made only of stored blocks, checking each block and the Adler-32.
Bytes InflateStored(const Bytes& zlib) {
    Bytes out;
    if (zlib.size() < 6 || zlib[0] != 0x78 || (zlib[0] * 256 + zlib[1]) % 31 != 0) {
        ADD_FAILURE() << "not a zlib header";
        return {};
    }
    size_t at = 2;
    for (bool last = false; !last;) {
        if (at + 5 > zlib.size() || (zlib[at] & 0x06) != 0) {
            ADD_FAILURE() << "no stored block at " << at;
            return {};
        }
        last = (zlib[at] & 1) != 0;
        const unsigned length = zlib[at + 1] | (zlib[at + 2] << 8);
        const unsigned complement = zlib[at + 3] | (zlib[at + 4] << 8);
        if ((length ^ complement) != 0xFFFF || at + 5 + length > zlib.size()) {
            ADD_FAILURE() << "bad stored block length at " << at;
            return {};
        }
        out.insert(out.end(), zlib.begin() + at + 5, zlib.begin() + at + 5 + length);
        at += 5 + length;
    }
    EXPECT_EQ(at + 4, zlib.size()) << "the Adler-32 ends the stream";
    if (at + 4 <= zlib.size()) {
        EXPECT_EQ(BigEndian(&zlib[at]), Adler32(out));
    }
    return out;
}

// Reads an RGB PNG as a reader does: signature, then chunks whose CRCs must all be right,
// IHDR first, IDAT in between, IEND last.
Png ReadPng(const Bytes& file) {
    static const std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Png png;
    if (file.size() < 8 ||
        !std::equal(std::begin(kSignature), std::end(kSignature), file.begin())) {
        ADD_FAILURE() << "no PNG signature";
        return png;
    }
    std::vector<std::string> types;
    Bytes zlib;
    for (size_t at = 8; at < file.size();) {
        if (at + 12 > file.size() || at + 12 + BigEndian(&file[at]) > file.size()) {
            ADD_FAILURE() << "chunk at " << at << " runs past the end";
            return png;
        }
        const std::uint32_t length = BigEndian(&file[at]);
        const std::string type(file.begin() + at + 4, file.begin() + at + 8);
        const std::uint8_t* data = &file[at + 8];
        EXPECT_EQ(BigEndian(data + length), PlatformCrc32(&file[at + 4], length + 4)) << type;
        if (type == "IHDR" && length == 13) {
            png.width = BigEndian(data);
            png.height = BigEndian(data + 4);
            EXPECT_EQ(Bytes(data + 8, data + 13), (Bytes{8, 2, 0, 0, 0})) << "8-bit RGB";
        }
        if (type == "IDAT") zlib.insert(zlib.end(), data, data + length);
        types.push_back(type);
        at += 12 + length;
    }
    EXPECT_GE(types.size(), 3u);
    EXPECT_EQ(types.front(), "IHDR");
    EXPECT_EQ(types.back(), "IEND");
    EXPECT_EQ(std::set<std::string>(types.begin() + 1, types.end() - 1),
              std::set<std::string>{"IDAT"});
    png.scanlines = InflateStored(zlib);
    return png;
}

COLORREF PixelAt(const Png& png, int x, int y) {
    const size_t at = y * (1 + 3 * size_t{png.width}) + 1 + 3 * size_t(x);
    return RGB(png.scanlines[at], png.scanlines[at + 1], png.scanlines[at + 2]);
}

// A captioned parent filled with one colour, holding a panel of another colour partly under a
// third (raised above it), a button and an edit; the class brushes go with the classes.
class WindowPictureTest : public testing::Test {
  protected:
    void SetUp() override {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hbrBackground = CreateSolidBrush(kParentColour);
        windowClass.lpszClassName = kParentClass;
        ASSERT_NE(RegisterClassW(&windowClass), 0);
        windowClass.hbrBackground = CreateSolidBrush(kPanelColour);
        windowClass.lpszClassName = kPanelClass;
        ASSERT_NE(RegisterClassW(&windowClass), 0);
        windowClass.hbrBackground = CreateSolidBrush(kCoverColour);
        windowClass.lpszClassName = kCoverClass;
        ASSERT_NE(RegisterClassW(&windowClass), 0);
        window_ = CreateWindowExW(0, kParentClass, L"Picture", WS_OVERLAPPED | WS_CAPTION, 40, 40,
                                  300, 200, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window_, nullptr);
        panel_ = Child(kPanelClass, L"", 0, 10, 10, 60, 40);
        SetWindowPos(Child(kCoverClass, L"", 0, 50, 30, 40, 30), HWND_TOP, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        Child(L"Button", L"Press me", BS_PUSHBUTTON, 90, 10, 100, 30);
        Child(L"Edit", L"picture text", 0, 10, 70, 200, 24, WS_EX_CLIENTEDGE);
        ShowWindow(window_, SW_SHOWNOACTIVATE);
    }
    void TearDown() override {
        if (window_ != nullptr) DestroyWindow(window_);
        UnregisterClassW(kParentClass, GetModuleHandleW(nullptr));
        UnregisterClassW(kPanelClass, GetModuleHandleW(nullptr));
        UnregisterClassW(kCoverClass, GetModuleHandleW(nullptr));
    }

    HWND Child(const wchar_t* className, const wchar_t* text, DWORD style, int x, int y, int width,
               int height, DWORD exStyle = 0) {
        return CreateWindowExW(exStyle, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width,
                               height, window_, nullptr, nullptr, nullptr);
    }

    // Where a point of a window's client area lands in the picture.
    POINT InPicture(HWND of, int x, int y) const {
        RECT frame{};
        GetWindowRect(window_, &frame);
        POINT point{x, y};
        ClientToScreen(of, &point);
        return POINT{point.x - frame.left, point.y - frame.top};
    }

    HWND window_ = nullptr;
    HWND panel_ = nullptr;
    tarnwick::test::CTempDirectory temp_;
};

TEST_F(WindowPictureTest, WritesTheWindowAndItsChildrenAsACheckedPng) {
    const std::wstring path = temp_.MakeDirectory(L"first.last\\my pics") + L"\\a.png";
    ASSERT_TRUE(vask::SaveWindowPicture(window_, path.c_str()));
    const Bytes file = ReadBytes(path);
    const Png png = ReadPng(file);
    RECT frame{};
    GetWindowRect(window_, &frame);
    ASSERT_EQ(png.width, static_cast<std::uint32_t>(frame.right - frame.left));
    ASSERT_EQ(png.height, static_cast<std::uint32_t>(frame.bottom - frame.top));
    ASSERT_EQ(png.scanlines.size(), png.height * (1 + 3 * size_t{png.width}));

    // The parent's colour around the panel, the panel's within it, the cover's where it lies
    // over the panel, and many colours in all (frame, caption, button and edit text).
    const POINT panelCentre = InPicture(panel_, 20, 15), beside = InPicture(panel_, -3, 20),
                covered = InPicture(panel_, 50, 30);
    EXPECT_EQ(PixelAt(png, panelCentre.x, panelCentre.y), kPanelColour);
    EXPECT_EQ(PixelAt(png, beside.x, beside.y), kParentColour);
    EXPECT_EQ(PixelAt(png, covered.x, covered.y), kCoverColour);
    std::set<COLORREF> colours;
    for (std::uint32_t y = 0; y < png.height; ++y) {
        for (std::uint32_t x = 0; x < png.width; ++x) colours.insert(PixelAt(png, x, y));
    }
    EXPECT_GT(colours.size(), 10u);

    const std::wstring again = temp_ / L"first.last\\my pics\\b.png";
    ASSERT_TRUE(vask::SaveWindowPicture(window_, again.c_str()));
    EXPECT_EQ(ReadBytes(again), file) << "same window, same bytes";
}

TEST_F(WindowPictureTest, RefusesWhatCannotBePictured) {
    HWND empty = CreateWindowExW(0, kPanelClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                 nullptr, nullptr);
    const std::wstring inMissingFolder = temp_ / L"no such.folder\\a.png";
    const std::wstring good = temp_ / L"a.png";
    const struct {
        HWND window;
        const wchar_t* path;
    } cases[] = {
        {empty, good.c_str()},
        {nullptr, good.c_str()},
        {window_, nullptr},
        {window_, inMissingFolder.c_str()},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(vask::SaveWindowPicture(c.window, c.path));
        EXPECT_EQ(GetFileAttributesW(good.c_str()), INVALID_FILE_ATTRIBUTES);
    }
    DestroyWindow(empty);
}

}  // namespace
