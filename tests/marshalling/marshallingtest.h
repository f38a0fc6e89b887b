#pragma once
// The marshalling fixture (no block left alive, test library found) and value and block helpers.

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "iipcinvoke.h"
#include "itypelibresolutionservice.h"
#include "messages/cmarshalhelper.h"
#include "messages/cmarshaller.h"
#include "platform/vaskreservoir.h"
#include "support/tempdirectory.h"
#include "virtualrecords.h"

namespace tarnwick::test {

// Records: TestSecondShared {long B; long C;} and VirtualControlReference {__int64 WindowHandle;}.
inline constexpr GUID kTwoFieldRecord = {
    0x5a4f3c21, 0x7b6e, 0x4d2a, {0x80, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02}};

class MarshallingTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static const HRESULT added = GetTypeLibResolutionService()->AddSearchDirectory(
            (ExecutableDirectory() + L"\\testdata").c_str());
        (void)added;
    }
    void SetUp() override { liveBlocks_ = GetLiveBlockCount(); }
    void TearDown() override {
        EXPECT_EQ(GetLiveBlockCount(), liveBlocks_) << "blocks were left alive";
    }

  private:
    std::uint32_t liveBlocks_ = 0;
};

// A VARIANT cleared when it goes.
class CTestVariant {
  public:
    CTestVariant() { VariantInit(&value_); }
    explicit CTestVariant(const VARIANT& taken) : value_(taken) {}
    CTestVariant(const CTestVariant&) = delete;
    CTestVariant& operator=(const CTestVariant&) = delete;
    ~CTestVariant() { VariantClear(&value_); }
    VARIANT& operator*() { return value_; }
    VARIANT* operator->() { return &value_; }

  private:
    VARIANT value_;
};

// A VARIANT of the given type whose value `set` writes.
template <typename Set>
VARIANT MakeVariant(VARTYPE type, Set set) {
    VARIANT value;
    VariantInit(&value);
    value.vt = type;
    set(value);
    return value;
}

inline VARIANT MakeString(const wchar_t* text) {
    return MakeVariant(VT_BSTR,
                       [&](VARIANT& v) { v.bstrVal = text ? SysAllocString(text) : nullptr; });
}

// length units cycling through the 7 characters from fill.
inline VARIANT MakeLongString(size_t length, wchar_t fill) {
    return MakeVariant(VT_BSTR, [&](VARIANT& v) {
        v.bstrVal = SysAllocStringLen(nullptr, static_cast<UINT>(length));
        for (size_t i = 0; i < length; ++i) v.bstrVal[i] = static_cast<wchar_t>(fill + i % 7);
    });
}

inline VARIANT MakeI4(LONG number) {
    return MakeVariant(VT_I4, [&](VARIANT& v) { v.lVal = number; });
}
inline VARIANT MakeI8(LONGLONG number) {
    return MakeVariant(VT_I8, [&](VARIANT& v) { v.llVal = number; });
}
inline VARIANT MakeBool(VARIANT_BOOL flag) {
    return MakeVariant(VT_BOOL, [&](VARIANT& v) { v.boolVal = flag; });
}

// A one-dimensional array of VARIANTs that takes over the given values.
inline VARIANT MakeArray(std::vector<VARIANT> elements) {
    return MakeVariant(VT_ARRAY | VT_VARIANT, [&](VARIANT& v) {
        v.parray = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(elements.size()));
        for (LONG i = 0; i < static_cast<LONG>(elements.size()); ++i) {
            SafeArrayPutElement(v.parray, &i, &elements[i]);
            VariantClear(&elements[i]);
        }
    });
}

// A copy of an element of a one-dimensional array of VARIANTs; a test failure when none.
inline VARIANT ElementOf(const VARIANT& array, LONG index) {
    VARIANT element;
    VariantInit(&element);
    if (array.vt != (VT_ARRAY | VT_VARIANT) ||
        SafeArrayGetElement(array.parray, &index, &element) != S_OK) {
        ADD_FAILURE() << "no element " << index;
    }
    return element;
}

// A record of the given type with the given fields set; VT_EMPTY when the type is unknown.
inline VARIANT MakeRecord(const GUID& guid,
                          const std::vector<std::pair<const wchar_t*, VARIANT>>& fields) {
    VARIANT value;
    VariantInit(&value);
    Microsoft::WRL::ComPtr<ITypeInfo> type;
    Microsoft::WRL::ComPtr<IRecordInfo> info;
    if (!GetTypeLibResolutionService()->GetTypeInfoByGuid(&guid, &type) ||
        FAILED(GetRecordInfoFromTypeInfo(type.Get(), &info))) {
        return value;
    }
    void* data = info->RecordCreate();
    // Written straight into the field's storage: Wine's PutField is not dependable.
    for (auto [name, field] : fields) {
        VARIANT storage;
        VariantInit(&storage);
        void* arrayData = nullptr;
        if (SUCCEEDED(info->GetFieldNoCopy(data, name, &storage, &arrayData))) {
            std::memcpy(storage.byref, &field.llVal, field.vt == VT_I8 ? 8 : 4);
        }
    }
    value.vt = VT_RECORD;
    value.pvRecord = data;
    value.pRecInfo = info.Detach();
    return value;
}

// A field of a record value, as a VARIANT of its own.
inline VARIANT FieldOf(const VARIANT& record, const wchar_t* name) {
    VARIANT field;
    VariantInit(&field);
    if (record.vt == VT_RECORD && record.pRecInfo != nullptr) {
        record.pRecInfo->GetField(record.pvRecord, name, &field);
    }
    return field;
}

// The references an object holds, read without changing them.
inline ULONG ReferencesOf(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

// A block made as a peer would make it; the test or the code under test frees it.
inline std::uint32_t MakeBlock(std::span<const std::uint8_t> bytes) {
    std::uint32_t handle = 0;
    void* block = AllocateSharedMemory(&handle, static_cast<std::uint32_t>(bytes.size()),
                                       GetCurrentProcessId(), __LINE__, "marshallingtest");
    if (block == nullptr) return 0;
    std::memcpy(block, bytes.data(), bytes.size());
    return handle;
}

// A copy of a live block's bytes (its open reference dropped again); empty when none.
inline std::vector<std::uint8_t> BytesOf(std::uint32_t handle) {
    std::uint32_t size = 0;
    const void* block = OpenSharedMemory(handle, &size, __LINE__, "marshallingtest");
    if (block == nullptr) return {};
    std::vector<std::uint8_t> copy(static_cast<const std::uint8_t*>(block),
                                   static_cast<const std::uint8_t*>(block) + size);
    FreeSharedMemory(handle);
    return copy;
}

inline bool IsLive(std::uint32_t handle) { return !BytesOf(handle).empty(); }

inline void Destroy(std::uint32_t handle) {
    while (FreeSharedMemory(handle) > 0) continue;
}

template <typename T>
T At(const std::vector<std::uint8_t>& bytes, size_t offset) {
    T value{};
    if (offset + sizeof(T) <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

template <typename T>
void Put(std::vector<std::uint8_t>& bytes, size_t offset, const T& value) {
    if (bytes.size() < offset + sizeof(T)) bytes.resize(offset + sizeof(T));
    std::memcpy(bytes.data() + offset, &value, sizeof(T));
}

// The text from offset to its terminator or the end of the bytes.
inline std::wstring TextAt(const std::vector<std::uint8_t>& bytes, size_t offset) {
    std::wstring text;
    for (size_t i = offset; At<wchar_t>(bytes, i) != L'\0'; i += 2) text += At<wchar_t>(bytes, i);
    return text;
}

inline void PutText(std::vector<std::uint8_t>& bytes, size_t offset, const std::wstring& text) {
    for (size_t i = 0; i < text.size(); ++i) Put(bytes, offset + 2 * i, text[i]);
    Put(bytes, offset + 2 * text.size(), L'\0');
}

// The peer's answer to a raise: a completed method return with the result, and its record.
inline InvokeRecord StoreReply(std::span<const std::uint8_t> call, VARIANT_BOOL result) {
    using namespace blockformat;
    std::vector<std::uint8_t> reply(call.begin(), call.begin() + kReplySize);
    Put<std::uint16_t>(reply, kKind, kKindMethodReturn);
    Put<std::uint32_t>(reply, kReplyState, StateCompleted);
    Put(reply, kReplyResult, CMarshaller::MakeWireValue(MakeBool(result)));
    return {kInvokeRecordMagic, CMarshalHelper::StoreBlock(reply.data(), kReplySize),
            kInvokeRecordReplyTag};
}

// A raise at a subscriber that cannot be reached wakes at once with the initial result.
inline void ExpectRaiseFailsAtOnce(IIpcInvoke& proxy) {
    const DWORD start = GetTickCount();
    VARIANT argument = MakeString(L"payload");
    const VARIANT answer = proxy.Invoke(L"Click", &argument, 1, 0);
    EXPECT_LT(GetTickCount() - start, 1000u) << "the wait was signalled at once";
    EXPECT_EQ(answer.vt, VT_UNKNOWN) << "no return: the initial result";
    EXPECT_EQ(answer.punkVal, nullptr);
}

}  // namespace tarnwick::test
