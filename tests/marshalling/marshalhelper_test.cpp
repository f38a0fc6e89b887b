// Payloads through real shared memory and real OLE Automation values: strings at and past the
// block size, arrays, records and both nested in each other. The sender's values are gone
// once moved, and the receiver frees every block (the fixture checks the live-block count).
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "marshalling/marshallingtest.h"
#include "messages/cmarshalhelper.h"
#include "messages/cmarshaller.h"
#include "messages/cmethodcallmessage.h"
#include "support/childmode.h"
#include "support/childprocess.h"

namespace tarnwick {
namespace {

using namespace test;

class MarshalHelper : public MarshallingTest {};

// A mapping of another party, named by its number.
std::wstring MappingName(int number) { return L"Tarnwick_MMF_" + std::to_wstring(number); }

bool MappingExists(int number) {
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, MappingName(number).c_str());
    if (mapping == nullptr) return false;
    CloseHandle(mapping);
    return true;
}

int NextFreeMappingNumber(int after) {
    int number = after + 1;
    while (MappingExists(number)) ++number;
    return number;
}

// The bytes of the named mapping, or nothing.
std::vector<std::uint8_t> MappingBytes(const std::wstring& name, size_t size) {
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str());
    if (mapping == nullptr) return {};
    const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, size);
    std::vector<std::uint8_t> bytes;
    if (view != nullptr) {
        bytes.assign(static_cast<const std::uint8_t*>(view),
                     static_cast<const std::uint8_t*>(view) + size);
        UnmapViewOfFile(view);
    }
    CloseHandle(mapping);
    return bytes;
}

// A null string travels as its terminator alone and arrives empty, not null; a string whose
// terminator fills the page still travels in a block.
TEST_F(MarshalHelper, StringsUpToThePageSizeTravelInABlockAndArriveWhole) {
    for (const size_t units : {size_t{0}, static_cast<size_t>(GetMaxPageSize(0) / 2 - 1)}) {
        CTestVariant value(units == 0 ? MakeString(nullptr) : MakeLongString(units, L'a'));
        const std::wstring sent(units == 0 ? L"" : value->bstrVal, units);
        CMarshalHelper::MarshalValue(*value);
        ASSERT_EQ(value->vt, VT_BSTR);
        const std::vector<std::uint8_t> block = BytesOf(HandleIn(*value));
        ASSERT_EQ(block.size(), units * 2 + 2);
        EXPECT_EQ(At<wchar_t>(block, units * 2), L'\0');
        CMarshalHelper::UnmarshalValue(*value);
        ASSERT_EQ(value->vt, VT_BSTR);
        ASSERT_NE(value->bstrVal, nullptr);
        EXPECT_EQ(std::wstring(value->bstrVal, SysStringLen(value->bstrVal)), sent);
    }
}

TEST_F(MarshalHelper, StringPastThePageSizeMovesIntoANamedMapping) {
    const size_t units = GetMaxPageSize(0) / 2;
    const std::uint32_t bytes = static_cast<std::uint32_t>(units * 2 + 2);
    CTestVariant value(MakeLongString(units, L'k'));
    const std::wstring sent(value->bstrVal, units);
    CMarshalHelper::MarshalValue(*value);
    ASSERT_EQ(value->vt, CMarshalHelper::kMappedStringType);
    const std::uint32_t descriptor = HandleIn(*value);
    const std::wstring text = TextAt(BytesOf(descriptor), 0);
    const std::wstring prefix = L"S|" + std::to_wstring(bytes) + L"|Tarnwick_MMF_";
    ASSERT_EQ(text.substr(0, prefix.size()), prefix) << text;

    const std::vector<std::uint8_t> mapped = MappingBytes(text.substr(prefix.size() - 13), bytes);
    ASSERT_EQ(mapped.size(), bytes);
    EXPECT_EQ(TextAt(mapped, 0), sent);

    // The receiver reads the string from the mapping and frees the descriptor, nested too.
    CMarshalHelper::UnmarshalValue(*value);
    ASSERT_EQ(value->vt, VT_BSTR);
    EXPECT_TRUE(std::wstring(value->bstrVal, SysStringLen(value->bstrVal)) == sent);
    CTestVariant array(MakeArray({MakeLongString(units, L'k')}));
    CMarshalHelper::MarshalValue(*array);
    CMarshalHelper::UnmarshalValue(*array);
    CTestVariant element(ElementOf(*array, 0));
    ASSERT_EQ(element->vt, VT_BSTR);
    EXPECT_TRUE(std::wstring(element->bstrVal) == sent) << "the nested string differs";
}

// Type 14 names a descriptor only when its block holds one; otherwise it is a decimal.
TEST_F(MarshalHelper, MappedStringsThatCannotBeReadArriveEmptyAndDecimalsStay) {
    auto descriptor = [](const std::wstring& text) {
        std::vector<std::uint8_t> bytes;
        PutText(bytes, 0, text);
        return MakeBlock(bytes);
    };
    const struct {
        const char* what;
        std::uint32_t handle;
        VARTYPE arrives;
        bool blockFreed;
    } cases[] = {
        {"mapping gone", descriptor(L"S|10|Tarnwick_MMF_2000000001"), VT_EMPTY, true},
        {"another party's mapping", descriptor(L"S|10|Local\\Secret"), VT_EMPTY, true},
        {"block of other text", descriptor(L"S|x|Tarnwick_MMF_1"), VT_DECIMAL, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NE(c.handle, 0u);
        VARIANT value;
        VariantInit(&value);
        value.vt = CMarshalHelper::kMappedStringType;
        value.ullVal = c.handle;
        CMarshalHelper::UnmarshalValue(value);
        EXPECT_EQ(value.vt, c.arrives);
        EXPECT_EQ(IsLive(c.handle), !c.blockFreed);
        if (value.vt == VT_DECIMAL) {
            EXPECT_EQ(value.ullVal, c.handle) << "the bits are kept";
        }
        Destroy(c.handle);
    }
}

TEST_F(MarshalHelper, ArrayOfStringsArrivesAsAnArrayOfStrings) {
    CTestVariant value(
        MakeArray({MakeString(L"one"), MakeString(L""), MakeI4(42), MakeString(L"three")}));
    CMarshalHelper::MarshalValue(*value);
    ASSERT_EQ(value->vt, VT_ARRAY | VT_VARIANT);
    const std::vector<std::uint8_t> block = BytesOf(HandleIn(*value));
    ASSERT_EQ(block.size(), 4u * 16 + 4);
    EXPECT_EQ(At<std::uint16_t>(block, 0), 4u);
    EXPECT_EQ(At<VARTYPE>(block, 2), VT_BSTR);
    EXPECT_EQ(At<VARTYPE>(block, 2 + 32), VT_I4);
    EXPECT_EQ(At<LONG>(block, 2 + 32 + 8), 42);

    CMarshalHelper::UnmarshalValue(*value);
    ASSERT_EQ(value->vt, VT_ARRAY | VT_VARIANT);
    LONG upper = -1;
    SafeArrayGetUBound(value->parray, 1, &upper);
    ASSERT_EQ(upper, 3);
    const wchar_t* expected[] = {L"one", L"", nullptr, L"three"};
    for (LONG i = 0; i <= upper; ++i) {
        CTestVariant element(ElementOf(*value, i));
        ASSERT_EQ(element->vt, expected[i] == nullptr ? VT_I4 : VT_BSTR);
        if (expected[i] != nullptr) {
            EXPECT_STREQ(element->bstrVal, expected[i]);
        }
    }
}

TEST_F(MarshalHelper, RecordOfTwoFieldsArrivesWithItsTypeNamesAndValues) {
    CTestVariant value(MakeRecord(kTwoFieldRecord, {{L"B", MakeI4(7)}, {L"C", MakeI4(-9)}}));
    ASSERT_EQ(value->vt, VT_RECORD) << "the test type library is not found";
    IRecordInfo* sentInfo = value->pRecInfo;
    sentInfo->AddRef();
    const ULONG referencesBefore = ReferencesOf(sentInfo);

    CMarshalHelper::MarshalValue(*value);
    EXPECT_EQ(ReferencesOf(sentInfo), referencesBefore - 1) << "the record info is released";
    sentInfo->Release();
    ASSERT_EQ(value->vt, VT_RECORD);
    EXPECT_EQ(value->pRecInfo, nullptr);
    const std::vector<std::uint8_t> block = BytesOf(HandleIn(*value));
    ASSERT_EQ(block.size(), 18u + 2 + 2 + 2 * 20);
    EXPECT_EQ(At<GUID>(block, 0), kTwoFieldRecord);
    EXPECT_EQ(At<std::uint16_t>(block, 16), 2u);
    EXPECT_EQ(At<std::uint32_t>(block, 18), 2u);
    EXPECT_EQ(At<wchar_t>(block, 22), L'B');
    EXPECT_EQ(At<VARTYPE>(block, 24), VT_I4);
    EXPECT_EQ(At<LONG>(block, 32), 7);
    EXPECT_EQ(At<wchar_t>(block, 44), L'C');
    EXPECT_EQ(At<LONG>(block, 54), -9);

    CMarshalHelper::UnmarshalValue(*value);
    ASSERT_EQ(value->vt, VT_RECORD);
    GUID guid{};
    value->pRecInfo->GetGuid(&guid);
    EXPECT_EQ(guid, kTwoFieldRecord);
    CTestVariant b(FieldOf(*value, L"B"));
    CTestVariant c(FieldOf(*value, L"C"));
    EXPECT_EQ(b->lVal, 7);
    EXPECT_EQ(c->lVal, -9);
}

TEST_F(MarshalHelper, RecordsAndArraysNestInEachOther) {
    CTestVariant value(MakeArray({
        MakeRecord(kControlReference, {{L"WindowHandle", MakeI8(0x123456789ALL)}}),
        MakeArray({MakeString(L"inner"), MakeI4(5)}),
        MakeString(L"outer"),
    }));
    CMarshalHelper::MarshalValue(*value);
    CMarshalHelper::UnmarshalValue(*value);
    CTestVariant record(ElementOf(*value, 0));
    CTestVariant handle(FieldOf(*record, L"WindowHandle"));
    EXPECT_EQ(handle->llVal, 0x123456789ALL);
    CTestVariant inner(ElementOf(*value, 1));
    CTestVariant innerText(ElementOf(*inner, 0));
    EXPECT_STREQ(innerText->bstrVal, L"inner");
    CTestVariant outer(ElementOf(*value, 2));
    EXPECT_STREQ(outer->bstrVal, L"outer");
}

// Counts references, so that a test sees a sender's array being destroyed.
class CCounted final : public IUnknown {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    ULONG references = 1;
};

TEST_F(MarshalHelper, SendersArrayIsDestroyedAndForeignPointersArriveEmpty) {
    CCounted counted;
    const VARIANT element = MakeVariant(VT_UNKNOWN, [&](VARIANT& v) { v.punkVal = &counted; });
    counted.AddRef();
    CTestVariant value(MakeArray({element}));
    ASSERT_EQ(counted.references, 2u);
    CMarshalHelper::MarshalValue(*value);
    EXPECT_EQ(counted.references, 1u) << "the array and the copy of its element are released";

    // An interface pointer from another process is never called through.
    CMarshalHelper::UnmarshalValue(*value);
    CTestVariant arrived(ElementOf(*value, 0));
    EXPECT_EQ(arrived->vt, VT_EMPTY);
    EXPECT_EQ(counted.references, 1u);
}

// Pointers into the sender's process, at the top and in a record field, where converting the
// field's value would read through it.
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
    CTestVariant square;
    square->vt = VT_ARRAY | VT_VARIANT;
    square->parray = SafeArrayCreate(VT_VARIANT, 2, bounds);
    CTestVariant numbers;
    numbers->vt = VT_ARRAY | VT_I4;
    numbers->parray = SafeArrayCreateVector(VT_I4, 0, 3);
    for (VARIANT* value : {&*square, &*numbers}) {
        CMarshalHelper::MarshalValue(*value);
        EXPECT_EQ(HandleIn(*value), 0u);
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
    const auto firstText = At<std::uint32_t>(bytes, 64);
    const auto secondText = At<std::uint32_t>(bytes, 68);
    EXPECT_EQ(TextAt(BytesOf(firstText), 0), L"first");
    EXPECT_EQ(BytesOf(secondText).size(), 2u);
    for (std::uint32_t handle : {block, firstText, secondText}) Destroy(handle);
}

}  // namespace

// args: two mapping numbers. Stores two strings in named mappings and checks that their
// descriptors name exactly those mappings and that the mappings hold the bytes; 0 when so.
TARNWICK_CHILD_MODE(StoreMappedStrings) {
    std::vector<std::uint8_t> payload(1026);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 3);
    for (size_t i = 0; i < 2; ++i) {
        const std::uint32_t block = CMarshalHelper::StoreInNamedMapping(payload.data(), 1026);
        const std::wstring text = test::TextAt(test::BytesOf(block), 0);
        test::Destroy(block);
        if (text != L"S|1026|" + MappingName(std::stoi(args.at(i)))) return 2 + static_cast<int>(i);
        if (MappingBytes(MappingName(std::stoi(args.at(i))), 1026) != payload) return 4;
    }
    return 0;
}

namespace {

TEST_F(MarshalHelper, MappingOfAnotherPartyIsSkippedNotOverwritten) {
    // Another party holds the first free name; the child's counter, starting at 1, meets it.
    const int taken = NextFreeMappingNumber(0);
    HANDLE other = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                      MappingName(taken).c_str());
    ASSERT_NE(other, nullptr);
    void* view = MapViewOfFile(other, FILE_MAP_ALL_ACCESS, 0, 0, 4096);
    ASSERT_NE(view, nullptr);
    const std::wstring sentinel = L"another party's bytes";
    std::memcpy(view, sentinel.c_str(), (sentinel.size() + 1) * 2);

    const int first = NextFreeMappingNumber(taken);
    const int second = NextFreeMappingNumber(first);
    CChildProcess child;
    ASSERT_TRUE(
        child.Start(L"StoreMappedStrings", {std::to_wstring(first), std::to_wstring(second)}));
    EXPECT_EQ(child.Wait(), std::optional<DWORD>(0));
    EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(view)), sentinel);
    UnmapViewOfFile(view);
    CloseHandle(other);
}

// The largest allocation asked for while a test watches. Requests past 1 GiB fail at once, as
// running out of memory would, instead of taking the machine's memory.
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
    EXPECT_EQ(HandleIn(value), 0u);
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
    if (void* block = std::malloc(size != 0 ? size : 1)) return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
