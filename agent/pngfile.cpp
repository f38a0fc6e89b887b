#include "agent/pngfile.h"

#include <windows.h>
#include <objbase.h>
#include <wincodec.h>
#include <wrl/client.h>

#include "standins/common/debugtrace.h"

namespace vask {
namespace {

using Microsoft::WRL::ComPtr;

constexpr wchar_t kComponent[] = L"PngFile";

// COM for the calling thread for as long as it lives, in whatever mode the thread has.
class CComScope {
  public:
    CComScope() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    CComScope(const CComScope&) = delete;
    CComScope& operator=(const CComScope&) = delete;
    ~CComScope() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    // A thread already in the other mode has COM too.
    bool IsReady() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

  private:
    HRESULT result_;
};

// Rows of 3 bytes a pixel (blue, green, red), each padded to 4 bytes as the encoder expects.
std::vector<BYTE> ToBgrRows(std::uint32_t width, std::uint32_t height,
                            const std::vector<std::uint32_t>& pixels, UINT stride) {
    std::vector<BYTE> rows(static_cast<size_t>(stride) * height);
    for (std::uint32_t y = 0; y < height; ++y) {
        BYTE* out = rows.data() + static_cast<size_t>(stride) * y;
        const std::uint32_t* in = pixels.data() + static_cast<size_t>(width) * y;
        for (std::uint32_t x = 0; x < width; ++x, ++in) {
            *out++ = static_cast<BYTE>(*in);
            *out++ = static_cast<BYTE>(*in >> 8);
            *out++ = static_cast<BYTE>(*in >> 16);
        }
    }
    return rows;
}

// `opened`: the file was made (or emptied), so a failure leaves a broken file to remove.
HRESULT Encode(const wchar_t* path, std::uint32_t width, std::uint32_t height,
               const std::vector<std::uint32_t>& pixels, bool& opened) {
    ComPtr<IWICImagingFactory> factory;
    HRESULT result = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_PPV_ARGS(factory.GetAddressOf()));
    ComPtr<IWICStream> stream;
    if (SUCCEEDED(result)) result = factory->CreateStream(stream.GetAddressOf());
    if (SUCCEEDED(result)) result = stream->InitializeFromFilename(path, GENERIC_WRITE);
    opened = SUCCEEDED(result);
    ComPtr<IWICBitmapEncoder> encoder;
    if (SUCCEEDED(result))
        result = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.GetAddressOf());
    if (SUCCEEDED(result)) result = encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache);
    ComPtr<IWICBitmapFrameEncode> frame;
    if (SUCCEEDED(result)) result = encoder->CreateNewFrame(frame.GetAddressOf(), nullptr);
    if (SUCCEEDED(result)) result = frame->Initialize(nullptr);
    if (SUCCEEDED(result)) result = frame->SetSize(width, height);
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (SUCCEEDED(result)) result = frame->SetPixelFormat(&format);
    if (SUCCEEDED(result) && format != GUID_WICPixelFormat24bppBGR) result = E_NOTIMPL;
    if (FAILED(result)) return result;
    const UINT stride = (width * 3 + 3) & ~3u;
    std::vector<BYTE> rows = ToBgrRows(width, height, pixels, stride);
    result = frame->WritePixels(height, stride, static_cast<UINT>(rows.size()), rows.data());
    if (SUCCEEDED(result)) result = frame->Commit();
    if (SUCCEEDED(result)) result = encoder->Commit();
    return result;
}

}  // namespace

bool WritePngFile(const wchar_t* path, std::uint32_t width, std::uint32_t height,
                  const std::vector<std::uint32_t>& pixels) {
    if (path == nullptr || width == 0 || height == 0 ||
        pixels.size() != static_cast<size_t>(width) * height) {
        DebugTrace(kComponent, L"%lux%lu pixels do not make a picture", width, height);
        return false;
    }
    const CComScope com;
    if (!com.IsReady()) {
        DebugTrace(kComponent, L"no COM on this thread");
        return false;
    }
    bool opened = false;
    const HRESULT result = Encode(path, width, height, pixels, opened);
    if (FAILED(result)) {
        DebugTrace(kComponent, L"cannot write %ls (0x%08lX)", path,
                   static_cast<unsigned long>(result));
        if (opened) DeleteFileW(path);
        return false;
    }
    return true;
}

}  // namespace vask
