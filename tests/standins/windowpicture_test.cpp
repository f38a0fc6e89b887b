// The hooking host's window pictures: PNG files read back through the imaging component.
#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>

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
using Microsoft::WRL::ComPtr;

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

struct Picture {
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint32_t> pixels;  // 0x00RRGGBB, top row first
};

// Decodes a PNG file through the platform's imaging component: a file that it cannot read
// as an 8-bit RGB PNG fails the test.
Picture ReadPng(const std::wstring& path) {
    Picture picture;
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICFormatConverter> converter;
    WICPixelFormatGUID format{};
    GUID container{};
    const bool read =
        SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_PPV_ARGS(factory.GetAddressOf()))) &&
        SUCCEEDED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                     WICDecodeMetadataCacheOnDemand,
                                                     decoder.GetAddressOf())) &&
        SUCCEEDED(decoder->GetContainerFormat(&container)) &&
        SUCCEEDED(decoder->GetFrame(0, frame.GetAddressOf())) &&
        SUCCEEDED(frame->GetPixelFormat(&format)) &&
        SUCCEEDED(frame->GetSize(&picture.width, &picture.height)) &&
        SUCCEEDED(factory->CreateFormatConverter(converter.GetAddressOf())) &&
        SUCCEEDED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGR,
                                        WICBitmapDitherTypeNone, nullptr, 0,
                                        WICBitmapPaletteTypeCustom));
    if (!read) {
        ADD_FAILURE() << "not a PNG file the imaging component reads";
        return {};
    }
    EXPECT_TRUE(container == GUID_ContainerFormatPng);
    EXPECT_TRUE(format == GUID_WICPixelFormat24bppBGR) << "8-bit RGB";
    picture.pixels.resize(size_t{picture.width} * picture.height);
    EXPECT_HRESULT_SUCCEEDED(converter->CopyPixels(
        nullptr, picture.width * 4, static_cast<UINT>(picture.pixels.size() * 4),
        reinterpret_cast<BYTE*>(picture.pixels.data())));
    return picture;
}

COLORREF PixelAt(const Picture& picture, int x, int y) {
    const std::uint32_t pixel = picture.pixels[size_t(y) * picture.width + size_t(x)];
    return RGB(pixel >> 16 & 0xFF, pixel >> 8 & 0xFF, pixel & 0xFF);
}

// A captioned parent filled with one colour, holding a panel of another colour partly under a
// third (raised above it), a button and an edit; the class brushes go with the classes.
class WindowPictureTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
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
        CoUninitialize();
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

TEST_F(WindowPictureTest, WritesTheWindowAndItsChildrenAsACompressedPng) {
    const HMENU bar = CreateMenu();  // destroyed with the window
    AppendMenuW(bar, MF_STRING, 1, L"&Menu");
    SetMenu(window_, bar);
    const std::wstring path = temp_.MakeDirectory(L"first.last\\my pics") + L"\\a.png";
    ASSERT_TRUE(vask::SaveWindowPicture(window_, path.c_str()));
    const Bytes file = ReadBytes(path);
    const Picture png = ReadPng(path);
    RECT frame{};
    GetWindowRect(window_, &frame);
    ASSERT_EQ(png.width, static_cast<std::uint32_t>(frame.right - frame.left));
    ASSERT_EQ(png.height, static_cast<std::uint32_t>(frame.bottom - frame.top));
    // Compressed: far smaller than the raw pixels.
    EXPECT_LT(file.size(), png.pixels.size() * 3 / 4);

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
    // The menu bar in the menu's colour, with its item's text.
    MENUBARINFO info{sizeof info};
    ASSERT_TRUE(GetMenuBarInfo(window_, OBJID_MENU, 0, &info));
    std::set<COLORREF> barColours;
    for (LONG y = info.rcBar.top; y < info.rcBar.bottom; ++y) {
        for (LONG x = info.rcBar.left; x < info.rcBar.right; ++x) {
            barColours.insert(PixelAt(png, x - frame.left, y - frame.top));
        }
    }
    EXPECT_TRUE(barColours.contains(GetSysColor(COLOR_MENU)));
    EXPECT_GT(barColours.size(), 1u);

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
