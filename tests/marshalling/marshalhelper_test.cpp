// Payloads through real shared memory: page-size strings, nesting, pointers that must not travel.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <string>
#include <tuple>
#include <vector>

#include "marshalling/marshallingtest.h"
#include "messages/cmethodcallmessage.h"

namespace tarnwick {
namespace {

using namespace test;

class MarshalHelper : public MarshallingTest {};

// Null arrives empty; a page-filling string rides a block, one unit more a mapping (nested too,
// beside a record).
TEST_F(MarshalHelper, StringsAtAndPastThePageSizeArriveWholeAndRecordsNestInArrays) {
    const size_t page = GetMaxPageSize(0);
    for (const size_t units : {size_t{0}, page / 2 - 1, page / 2}) {
        SCOPED_TRACE(units);
        const bool mapped = units == page / 2;
        CTestVariant value(units == 0 ? MakeString(nullptr) : MakeLongString(units, L'a'));
        const std::wstring sent(units == 0 ? L"" : value->bstrVal, units);
        CTestVariant array(MakeArray(
            {MakeLongString(units, L'a'),
             MakeRecord(kVirtualControlReferenceGuid, {{L"WindowHandle", MakeI8(0x123456789ALL)}})}));
        CMarshalHelper::MarshalValue(*value);
        ASSERT_EQ(value->vt,
                  mapped ? VARTYPE{CMarshalHelper::kMappedStringType} : VARTYPE{VT_BSTR});
        const std::vector<std::uint8_t> block = BytesOf(static_cast<std::uint32_t>(value->ullVal));
        const std::wstring prefix = L"S|" + std::to_wstring(units * 2 + 2) + L"|Tarnwick_MMF_";
        if (mapped) {
            EXPECT_EQ(TextAt(block, 0).substr(0, prefix.size()), prefix);
        } else {
            EXPECT_EQ(block.size(), units * 2 + 2);
            EXPECT_EQ(At<wchar_t>(block, units * 2), L'\0');
        }

        CMarshalHelper::UnmarshalValue(*value);
        ASSERT_EQ(value->vt, VT_BSTR);
        ASSERT_NE(value->bstrVal, nullptr);
        EXPECT_TRUE(std::wstring(value->bstrVal, SysStringLen(value->bstrVal)) == sent);
        CMarshalHelper::MarshalValue(*array);
        CMarshalHelper::UnmarshalValue(*array);
        CTestVariant element(ElementOf(*array, 0));
        ASSERT_EQ(element->vt, VT_BSTR);
        EXPECT_TRUE(std::wstring(element->bstrVal, SysStringLen(element->bstrVal)) == sent);
        CTestVariant record(ElementOf(*array, 1));
        CTestVariant handle(FieldOf(*record, L"WindowHandle"));
        EXPECT_EQ(handle->llVal, 0x123456789ALL);
    }
}

// Type 14 names a descriptor only when its block holds one; otherwise it is a decimal.
TEST_F(MarshalHelper, MappedStringsThatCannotBeReadArriveEmptyAndDecimalsStay) {
    auto descriptor = [](const std::wstring& text) {
        std::vector<std::uint8_t> bytes;
        PutText(bytes, 0, text);
        return MakeBlock(bytes);
    };
    const std::tuple<const char*, std::uint32_t, VARTYPE, bool> cases[] = {
        {"mapping gone", descriptor(L"S|10|Tarnwick_MMF_2000000001"), VT_EMPTY, true},
        {"another party's mapping", descriptor(L"S|10|Local\\Secret"), VT_EMPTY, true},
        {"block of other text", descriptor(L"S|x|Tarnwick_MMF_1"), VT_DECIMAL, false},
    };
    for (const auto& [what, handle, arrives, blockFreed] : cases) {
        SCOPED_TRACE(what);
        ASSERT_NE(handle, 0u);
        VARIANT value;
        VariantInit(&value);
        value.vt = CMarshalHelper::kMappedStringType;
        value.ullVal = handle;
        CMarshalHelper::UnmarshalValue(value);
        EXPECT_EQ(value.vt, arrives);
        EXPECT_EQ(IsLive(handle), !blockFreed);
        if (value.vt == VT_DECIMAL) {
            EXPECT_EQ(value.ullVal, handle) << "the bits are kept";
        }
        Destroy(handle);
    }
}

// Moving a value releases what the sender held: an array and its elements, a record's info.
TEST_F(MarshalHelper, SendersValuesAreReleasedAndForeignPointersArriveEmpty) {
    CTestVariant record(MakeRecord(kTwoFieldRecord, {{L"C", MakeI4(-9)}}));
    ASSERT_EQ(record->vt, VT_RECORD) << "the test type library is not found";
    const Microsoft::WRL::ComPtr<IRecordInfo> info = record->pRecInfo;
    const ULONG infoReferences = ReferencesOf(info.Get());
    CMarshalHelper::MarshalValue(*record);
    EXPECT_EQ(ReferencesOf(info.Get()), infoReferences - 1) << "the record info is released";
    EXPECT_EQ(record->pRecInfo, nullptr);
    CMarshalHelper::UnmarshalValue(*record);
    CTestVariant c(FieldOf(*record, L"C"));
    EXPECT_EQ(c->lVal, -9);

    Microsoft::WRL::ComPtr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    const ULONG alone = ReferencesOf(stream.Get());
    stream->AddRef();
    CTestVariant value(
        MakeArray({MakeVariant(VT_UNKNOWN, [&](VARIANT& v) { v.punkVal = stream.Get(); })}));
    ASSERT_EQ(ReferencesOf(stream.Get()), alone + 1);
    CMarshalHelper::MarshalValue(*value);
    EXPECT_EQ(ReferencesOf(stream.Get()), alone) << "the array and its element are released";

    // An interface pointer from another process is never called through.
    CMarshalHelper::UnmarshalValue(*value);
    CTestVariant arrived(ElementOf(*value, 0));
    EXPECT_EQ(arrived->vt, VT_EMPTY);
    EXPECT_EQ(ReferencesOf(stream.Get()), alone);
}

// Pointers into the sender's process, at the top and in a record field, arrive empty.
TEST_F(MarshalHelper, PointersIntoTheSendersProcessArriveEmpty) {
    for (VARTYPE type : {VARTYPE{VT_DISPATCH}, VARTYPE{VT_UNKNOWN}, VARTYPE(VT_BYREF | VT_I4),
                         VARTYPE(VT_BYREF | VT_VARIANT)}) {
        VARIANT value = CMarshaller::WidenWireValue(WireValue{type, {}, 0x12345678});
        CMarshalHelper::UnmarshalValue(value);
        EXPECT_EQ(value.vt, VT_EMPTY) << type;
        VariantClear(&value);
    }
    std::vector<std::uint8_t> record;
    Put(record, 0, kTwoFieldRecord);
    Put<std::uint16_t>(record, 16, 1);
    Put<std::uint32_t>(record, 18, 2);
    Put(record, 22, L'B');
    Put(record, 24, WireValue{VT_BYREF | VT_I4, {}, 0x1234});
    CTestVariant value(CMarshaller::WidenWireValue(WireValue{VT_RECORD, {}, MakeBlock(record)}));
    CMarshalHelper::UnmarshalValue(*value);
    ASSERT_EQ(value->vt, VT_RECORD);
    CTestVariant b(FieldOf(*value, L"B"));
    EXPECT_EQ(b->lVal, 0);
}

TEST_F(MarshalHelper, PayloadThatDoesNotFitLeavesNoHandleAndArrivesEmpty) {
    // Two dimensions, and elements that are not VARIANTs: the array block holds neither.
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    CTestVariant square(MakeVariant(VT_ARRAY | VT_VARIANT, [&](VARIANT& v) {
        v.parray = SafeArrayCreate(VT_VARIANT, 2, bounds);
    }));
    CTestVariant numbers(MakeVariant(
        VT_ARRAY | VT_I4, [](VARIANT& v) { v.parray = SafeArrayCreateVector(VT_I4, 0, 3); }));
    for (VARIANT* value : {&*square, &*numbers}) {
        CMarshalHelper::MarshalValue(*value);
        EXPECT_EQ(static_cast<std::uint32_t>(value->ullVal), 0u);
        CMarshalHelper::UnmarshalValue(*value);
        EXPECT_EQ(value->vt, VT_EMPTY);
    }
}

TEST_F(MarshalHelper, ObjectReferenceBlockHoldsBothRecordsAndBothTexts) {
    const ReturnAddressRecord first{1, 2, 3, 4};
    const ReturnAddressRecord second{5, 6, 7, 8};
    CMethodCallMessage message;
    WireValue reference{};
    EXPECT_EQ(message.CreateObjectReference(&first, L"first", nullptr, &second, &reference), 0);
    ASSERT_EQ(message.CreateObjectReference(&first, L"first", L"", &second, &reference), 1);
    EXPECT_EQ(reference.Type, VT_VARIANT);
    const auto block = static_cast<std::uint32_t>(reference.Data);
    const std::vector<std::uint8_t> bytes = BytesOf(block);
    ASSERT_EQ(bytes.size(), 72u);
    EXPECT_EQ(At<ReturnAddressRecord>(bytes, 0).O, 4u);
    EXPECT_EQ(At<ReturnAddressRecord>(bytes, 32).P, 5u);
    EXPECT_EQ(TextAt(BytesOf(At<std::uint32_t>(bytes, 64)), 0), L"first");
    EXPECT_EQ(BytesOf(At<std::uint32_t>(bytes, 68)).size(), 2u);
    for (size_t at : {64, 68}) Destroy(At<std::uint32_t>(bytes, at));
    Destroy(block);
}

// The counter meets a mapping of another party's: it is skipped, not written over.
TEST_F(MarshalHelper, MappingOfAnotherPartyIsSkippedNotOverwritten) {
    const std::vector<std::uint8_t> payload(1026, 7);
    const auto store = [&] {
        const std::uint32_t block = CMarshalHelper::StoreInNamedMapping(payload.data(), 1026);
        const std::wstring text = TextAt(BytesOf(block), 0);
        Destroy(block);
        return text;
    };
    const std::wstring first = store();
    ASSERT_EQ(first.rfind(L"S|1026|Tarnwick_MMF_", 0), 0u) << "not a descriptor";
    const int next = std::stoi(first.substr(20)) + 1;
    const std::wstring taken = L"Tarnwick_MMF_" + std::to_wstring(next);
    HANDLE other =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, taken.c_str());
    ASSERT_NE(other, nullptr);
    void* view = MapViewOfFile(other, FILE_MAP_ALL_ACCESS, 0, 0, 4096);
    ASSERT_NE(view, nullptr);
    const std::wstring sentinel = L"another party's bytes";
    std::memcpy(view, sentinel.c_str(), (sentinel.size() + 1) * 2);
    EXPECT_EQ(store(), L"S|1026|Tarnwick_MMF_" + std::to_wstring(next + 1));
    EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(view)), sentinel);
    UnmapViewOfFile(view);
    CloseHandle(other);
}

// The largest allocation while watched; past 1 GiB it fails at once as out of memory would.
std::atomic<bool> g_watchAllocations{false};
std::atomic<size_t> g_largestAllocation{0};

// A record type whose field names cannot be had: the count query fails and writes nothing.
class CNamelessRecordInfo final : public IRecordInfo {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE GetFieldNames(ULONG*, BSTR*) override { return E_FAIL; }
    HRESULT STDMETHODCALLTYPE RecordDestroy(PVOID) override {
        ++destroyed;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RecordInit(PVOID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RecordClear(PVOID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RecordCopy(PVOID, PVOID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetGuid(GUID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetName(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSize(ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetField(PVOID, LPCOLESTR, VARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFieldNoCopy(PVOID, LPCOLESTR, VARIANT*, PVOID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE PutField(ULONG, PVOID, LPCOLESTR, VARIANT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE PutFieldNoCopy(ULONG, PVOID, LPCOLESTR, VARIANT*) override {
        return E_NOTIMPL;
    }
    BOOL STDMETHODCALLTYPE IsMatchingType(IRecordInfo*) override { return FALSE; }
    PVOID STDMETHODCALLTYPE RecordCreate() override { return nullptr; }
    HRESULT STDMETHODCALLTYPE RecordCreateCopy(PVOID, PVOID*) override { return E_NOTIMPL; }
    ULONG references = 1;
    int destroyed = 0;
};

TEST_F(MarshalHelper, ARecordWhoseFieldNamesFailMovesNothingAndSizesNothing) {
    CNamelessRecordInfo info;
    int data = 0;
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_RECORD;
    V_RECORD(&value) = &data;
    V_RECORDINFO(&value) = &info;
    info.AddRef();
    g_largestAllocation = 0;
    g_watchAllocations = true;
    CMarshalHelper::MarshalValue(value);
    g_watchAllocations = false;
    EXPECT_LT(g_largestAllocation.load(), size_t{1} << 20) << "an unread count sized a vector";
    EXPECT_EQ(CMarshalHelper::HandleOf(value), 0u);
    EXPECT_EQ(info.destroyed, 1);
    EXPECT_EQ(info.references, 1u) << "the sender's reference is released";
}

}  // namespace
}  // namespace tarnwick

void* operator new(size_t size) {
    if (tarnwick::g_watchAllocations) {
        size_t seen = tarnwick::g_largestAllocation;
        while (size > seen && !tarnwick::g_largestAllocation.compare_exchange_weak(seen, size)) {
        }
        if (size > (size_t{1} << 30)) throw std::bad_alloc();
    }
    if (void* block = HeapAlloc(GetProcessHeap(), 0, size != 0 ? size : 1)) return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept { HeapFree(GetProcessHeap(), 0, block); }
void operator delete(void* block, size_t) noexcept { HeapFree(GetProcessHeap(), 0, block); }
