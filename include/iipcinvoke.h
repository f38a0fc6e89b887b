#pragma once
// The COM interface through which an event reaches its subscriber: the event proxy that a
// subscription creates implements it.

#include <windows.h>
#include <ole2.h>

#include <cstdint>

namespace tarnwick {

// {AF79F339-CFB3-4F1F-A70C-483F9DC4D8F8}
inline constexpr IID IID_IIpcInvoke = {
    0xaf79f339, 0xcfb3, 0x4f1f, {0xa7, 0x0c, 0x48, 0x3f, 0x9d, 0xc4, 0xd8, 0xf8}};

MIDL_INTERFACE("af79f339-cfb3-4f1f-a70c-483f9dc4d8f8")
IIpcInvoke : public IUnknown {
    // Raises the event memberName with count arguments (in call order: arguments[0] is the
    // first) towards the subscriber and answers its result, which the caller then owns. The
    // payloads of string, array and record arguments travel to the subscriber: those
    // arguments are VT_EMPTY afterwards.
    virtual VARIANT STDMETHODCALLTYPE Invoke(const wchar_t* memberName, VARIANT* arguments,
                                             int count, std::uint64_t target) = 0;
};

}  // namespace tarnwick

#if defined(__CRT_UUID_DECL)
__CRT_UUID_DECL(tarnwick::IIpcInvoke, 0xaf79f339, 0xcfb3, 0x4f1f, 0xa7, 0x0c, 0x48, 0x3f, 0x9d,
                0xc4, 0xd8, 0xf8)
#endif
