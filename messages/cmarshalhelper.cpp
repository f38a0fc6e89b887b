#include "messages/cmarshalhelper.h"

#include <oleauto.h>
#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "ccomerror.h"
#include "common/variantrecords.h"
#include "itypelibresolutionservice.h"
#include "messages/cmarshaller.h"
#include "messages/sharedmemory.h"
#include "platform/vaskreservoir.h"
#include "trace/ctraceprovider.h"

namespace tarnwick {
namespace {

// {D907C71C-087E-421F-BAEF-2D106CE2F4AC}
constexpr GUID kTraceGuid = {
    0xd907c71c, 0x087e, 0x421f, {0xba, 0xef, 0x2d, 0x10, 0x6c, 0xe2, 0xf4, 0xac}};

constexpr char kSourceFile[] = "cmarshalhelper";

enum TracePoint : USHORT {
    kTraceStoreFailed = 1,
    kTraceMappingNameTaken,
    kTraceMappingFailed,
    kTraceMappingViewFailed,
    kTraceMappingNamesExhausted,
    kTraceStringTooLarge,
    kTraceArrayRefused,
    kTraceArrayBoundsFailed,
    kTraceArrayTooLarge,
    kTraceArrayElementUnreadable,
    kTraceArrayDestroyFailed,
    kTraceRecordWithoutInfo,
    kTraceRecordFieldNamesFailed,
    kTraceRecordTypeFailed,
    kTraceRecordFieldUnreadable,
    kTraceRecordTooLarge,
    kTracePayloadUnreadable,
    kTraceStringUnterminated,
    kTraceStringAllocationFailed,
    kTraceArrayCountInvalid,
    kTraceArrayCreateFailed,
    kTraceArrayPutFailed,
    kTraceNestedTooDeep,
    kTraceForeignPointer,
    kTraceRecordBlockMalformed,
    kTraceRecordTypeUnknown,
    kTraceRecordInfoFailed,
    kTraceRecordCreateFailed,
    kTraceRecordPutFailed,
    kTraceObjectReferenceRefused,
    kTraceObjectReferenceFailed,
    kTraceMarshalFailed,
    kTraceUnmarshalFailed,
    kTracePayloadRefused,
    kTraceMappedStringUnreadable,
};

constexpr int kMappingAttempts = 64;
constexpr LONG kMaxArrayElements = 0x7FFF;
constexpr size_t kWireSize = sizeof(WireValue);
constexpr size_t kArrayElements = 2;      // array block: count, then the elements
constexpr size_t kRecordFieldCount = 16;  // record block: GUID, count, then the entries
constexpr size_t kRecordEntries = 18;
constexpr size_t kObjectReferenceSize = 72;
constexpr wchar_t kMappingPrefix[] = L"Tarnwick_MMF_";

SourcePlace Here(int line) { return {line, kSourceFile}; }

template <typename... Values>
void TraceError(TracePoint point, const Values&... values) {
    Trace(kTraceGuid, TraceLevel::Error, kTraceFlagComponent, point, values...);
}

// The HRESULT's text is made only when the trace is written.
template <typename... Values>
void TraceFailure(TracePoint point, HRESULT hr, const Values&... values) {
    if (!CTraceProvider::Module().IsEnabled(kTraceFlagComponent, TraceLevel::Error)) return;
    const CComError error(hr);
    TraceError(point, error.ErrorMessage(), hr, values...);
}

struct BstrFree {
    void operator()(BSTR text) const noexcept { SysFreeString(text); }
};
using UniqueBstr = std::unique_ptr<OLECHAR, BstrFree>;

struct SafeArrayFree {
    void operator()(SAFEARRAY* array) const noexcept {
        const HRESULT hr = DestroyVariantArray(array);
        if (FAILED(hr)) TraceFailure(kTraceArrayDestroyFailed, hr);
    }
};
using UniqueSafeArray = std::unique_ptr<SAFEARRAY, SafeArrayFree>;

struct HandleClose {
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleClose>;

struct ViewUnmap {
    void operator()(void* view) const noexcept { UnmapViewOfFile(view); }
};
using UniqueView = std::unique_ptr<void, ViewUnmap>;

class CScopedVariant {
  public:
    CScopedVariant() noexcept { VariantInit(&value_); }
    explicit CScopedVariant(const VARIANT& taken) noexcept : value_(taken) {}
    CScopedVariant(const CScopedVariant&) = delete;
    CScopedVariant& operator=(const CScopedVariant&) = delete;
    ~CScopedVariant() { ClearVariant(value_); }

    VARIANT& Get() noexcept { return value_; }
    // The value no longer owns its payload: it has moved into shared memory.
    void Forget() noexcept { VariantInit(&value_); }

  private:
    VARIANT value_;
};

// A record and its record info: the record is destroyed and the info released when the
// owner goes, unless both were handed to a VARIANT.
class CRecordOwner {
  public:
    CRecordOwner() = default;
    // Takes over the record and one reference on its info.
    CRecordOwner(IRecordInfo* info, void* data) noexcept : info_(info), data_(data) {}
    CRecordOwner(CRecordOwner&& other) noexcept
        : info_(std::exchange(other.info_, nullptr)), data_(std::exchange(other.data_, nullptr)) {}
    CRecordOwner(const CRecordOwner&) = delete;
    CRecordOwner& operator=(const CRecordOwner&) = delete;
    ~CRecordOwner() {
        VARIANT owned;
        V_VT(&owned) = VT_RECORD;
        V_RECORD(&owned) = data_;
        V_RECORDINFO(&owned) = info_;
        ClearVariant(owned);
    }

    IRecordInfo* Info() const noexcept { return info_; }
    void* Data() const noexcept { return data_; }
    // Makes the value a VT_RECORD holding both; nothing changes without a record.
    void HandTo(VARIANT& value) noexcept {
        if (info_ == nullptr || data_ == nullptr) return;
        value.vt = VT_RECORD;
        V_RECORD(&value) = std::exchange(data_, nullptr);
        V_RECORDINFO(&value) = std::exchange(info_, nullptr);
    }

  private:
    IRecordInfo* info_ = nullptr;
    void* data_ = nullptr;
};

// Mappings made for large strings stay open, so that the peer can open them by name, until
// the module unloads.
class CNamedMappings {
  public:
    static CNamedMappings& Instance() {
        static CNamedMappings mappings;
        return mappings;
    }
    CNamedMappings(const CNamedMappings&) = delete;
    CNamedMappings& operator=(const CNamedMappings&) = delete;
    ~CNamedMappings() {
        for (auto& [mapping, view] : kept_) {
            UnmapViewOfFile(view);
            CloseHandle(mapping);
        }
    }

    // Takes over both, or leaves them with the caller when they cannot be kept.
    bool Keep(UniqueHandle& mapping, UniqueView& view) noexcept {
        try {
            std::lock_guard<std::mutex> lock(mutex_);
            kept_.emplace_back(mapping.get(), view.get());
        } catch (const std::exception&) {
            return false;
        }
        mapping.release();
        view.release();
        return true;
    }

  private:
    CNamedMappings() = default;

    std::mutex mutex_;
    std::vector<std::pair<HANDLE, void*>> kept_;
};

// Names are unique within the process because the counter advances atomically, and across
// processes because a name that already exists is skipped.
std::atomic<int> g_nextMappingNumber{1};

void SetHandle(VARIANT& value, std::uint32_t handle) noexcept {
    V_RECORD(&value) = nullptr;
    V_RECORDINFO(&value) = nullptr;
    V_UI8(&value) = handle;
}

void MakeEmpty(VARIANT& value) noexcept {
    SetHandle(value, 0);
    value.vt = VT_EMPTY;
}

// MarshalValue on an element of an array or a field of a record, answering its wire value.
// A moved payload now belongs to the wire value, so the element is left VT_EMPTY.
WireValue MoveToWire(VARIANT& element) {
    const bool moves = CMarshalHelper::HasPayload(element.vt);
    CMarshalHelper::MarshalValue(element);
    const WireValue wire = CMarshaller::MakeWireValue(element);
    if (moves) VariantInit(&element);
    return wire;
}

std::uint32_t StoreArray(SAFEARRAY* array) {
    VARTYPE elementType = VT_EMPTY;
    if (array == nullptr || SafeArrayGetDim(array) != 1 ||
        FAILED(SafeArrayGetVartype(array, &elementType)) || elementType != VT_VARIANT) {
        // Only one-dimensional arrays of VARIANTs fit the block.
        TraceError(kTraceArrayRefused, array, static_cast<std::uint32_t>(elementType));
        return 0;
    }
    LONG lower = 0;
    LONG upper = 0;
    HRESULT hr = SafeArrayGetLBound(array, 1, &lower);
    if (SUCCEEDED(hr)) hr = SafeArrayGetUBound(array, 1, &upper);
    if (FAILED(hr)) {
        TraceFailure(kTraceArrayBoundsFailed, hr);
        return 0;
    }
    const LONGLONG count = LONGLONG{upper} - lower + 1;
    const LONGLONG size = count * static_cast<LONGLONG>(kWireSize) + 4;
    if (count < 0 || count > kMaxArrayElements || size > GetMaxPageSize(0)) {
        TraceError(kTraceArrayTooLarge, static_cast<std::int64_t>(count));
        return 0;
    }
    CBlockHolder holder;
    const std::span<std::uint8_t> bytes =
        holder.Allocate(static_cast<std::uint32_t>(size), Here(__LINE__));
    if (bytes.empty()) return 0;
    WriteAt(bytes, 0, static_cast<std::uint16_t>(count));
    // The elements move out in place: the array goes once they are written, so a copy of each
    // would be made only to be freed.
    CLockedVariants elements(array);
    if (FAILED(elements.Result())) {
        TraceFailure(kTraceArrayElementUnreadable, elements.Result(), LONG{-1});
        return 0;
    }
    for (LONG i = 0; i < count; ++i) {
        WriteAt(bytes, kArrayElements + kWireSize * i, MoveToWire(elements[static_cast<ULONG>(i)]));
    }
    return holder.Release();
}

bool RecordTypeGuid(IRecordInfo& info, GUID& guid) {
    Microsoft::WRL::ComPtr<ITypeInfo> type;
    HRESULT hr = info.GetTypeInfo(&type);
    TYPEATTR* attributes = nullptr;
    if (SUCCEEDED(hr)) hr = type->GetTypeAttr(&attributes);
    if (FAILED(hr)) {
        TraceFailure(kTraceRecordTypeFailed, hr);
        return false;
    }
    guid = attributes->guid;
    type->ReleaseTypeAttr(attributes);
    return true;
}

std::optional<std::vector<UniqueBstr>> RecordFieldNames(IRecordInfo& info) {
    // Asked without an array, the count is an answer; some implementations also take it as
    // the room given and clamp to it, so it starts as large as can be.
    ULONG count = ULONG_MAX;
    HRESULT hr = info.GetFieldNames(&count, nullptr);
    if (FAILED(hr)) {
        // The count was not given: it must not size anything.
        TraceFailure(kTraceRecordFieldNamesFailed, hr);
        return std::nullopt;
    }
    std::vector<BSTR> names(count, nullptr);
    if (count > 0) hr = info.GetFieldNames(&count, names.data());
    std::vector<UniqueBstr> owned;
    owned.reserve(names.size());
    for (BSTR name : names) owned.emplace_back(name);
    if (FAILED(hr)) {
        TraceFailure(kTraceRecordFieldNamesFailed, hr);
        return std::nullopt;
    }
    return owned;
}

std::uint32_t StoreRecord(const CRecordOwner& record) {
    IRecordInfo* info = record.Info();
    if (info == nullptr) {
        TraceError(kTraceRecordWithoutInfo);
        return 0;
    }
    const std::optional<std::vector<UniqueBstr>> names = RecordFieldNames(*info);
    GUID guid{};
    if (!names || !RecordTypeGuid(*info, guid)) return 0;
    std::uint64_t size = kRecordEntries;
    for (const UniqueBstr& name : *names) size += SysStringByteLen(name.get()) + 4 + kWireSize;
    if (names->size() > 0xFFFF || size > GetMaxPageSize(0)) {
        TraceError(kTraceRecordTooLarge, size);
        return 0;
    }
    CBlockHolder holder;
    const std::span<std::uint8_t> bytes =
        holder.Allocate(static_cast<std::uint32_t>(size), Here(__LINE__));
    if (bytes.empty()) return 0;
    WriteAt(bytes, 0, guid);
    WriteAt(bytes, kRecordFieldCount, static_cast<std::uint16_t>(names->size()));
    size_t offset = kRecordEntries;
    for (const UniqueBstr& name : *names) {
        const std::uint32_t nameBytes = SysStringByteLen(name.get());
        WriteAt(bytes, offset, nameBytes);
        if (nameBytes > 0) std::memcpy(bytes.data() + offset + 4, name.get(), nameBytes);
        CScopedVariant field;
        if (record.Data() != nullptr) {
            const HRESULT hr = info->GetField(record.Data(), name.get(), &field.Get());
            if (FAILED(hr)) TraceFailure(kTraceRecordFieldUnreadable, hr, name.get());
        }
        WriteAt(bytes, offset + 4 + nameBytes, MoveToWire(field.Get()));
        offset += 4 + nameBytes + kWireSize;
    }
    return holder.Release();
}

void MarshalString(VARIANT& value) {
    const UniqueBstr text(V_BSTR(&value));
    SetHandle(value, 0);
    const UINT length = SysStringLen(text.get());
    const wchar_t* units = text != nullptr ? text.get() : L"";
    const std::uint64_t bytes = (std::uint64_t{length} + 1) * sizeof(wchar_t);
    std::uint32_t handle = 0;
    if (bytes <= GetMaxPageSize(0)) {
        handle = CMarshalHelper::StoreString(units, length);
    } else if (bytes > MAXDWORD) {
        TraceError(kTraceStringTooLarge, bytes);
    } else {
        handle = CMarshalHelper::StoreInNamedMapping(units, static_cast<std::uint32_t>(bytes));
        if (handle != 0) value.vt = CMarshalHelper::kMappedStringType;
    }
    SetHandle(value, handle);
}

void MarshalArray(VARIANT& value) {
    const UniqueSafeArray array(V_ARRAY(&value));
    SetHandle(value, 0);
    SetHandle(value, StoreArray(array.get()));
}

void MarshalRecord(VARIANT& value) {
    const CRecordOwner record(V_RECORDINFO(&value), V_RECORD(&value));
    SetHandle(value, 0);
    SetHandle(value, StoreRecord(record));
}

// The wire values of an array block, or the fields of a record block, as far as the block
// is sound.
struct PayloadContents {
    GUID guid{};
    std::vector<std::pair<std::wstring, WireValue>> entries;
    bool sound = true;
};

PayloadContents ParseArray(const std::vector<std::uint8_t>& bytes) {
    PayloadContents contents;
    std::int16_t count = -1;
    ReadAt<std::int16_t>(bytes, 0, count);
    if (count < 0 || kArrayElements + kWireSize * count > bytes.size()) {
        TraceError(kTraceArrayCountInvalid, static_cast<std::int32_t>(count),
                   static_cast<std::uint64_t>(bytes.size()));
        contents.sound = false;
        return contents;
    }
    contents.entries.resize(static_cast<size_t>(count));
    for (size_t i = 0; i < contents.entries.size(); ++i) {
        ReadAt(bytes, kArrayElements + kWireSize * i, contents.entries[i].second);
    }
    return contents;
}

// Entries up to the first one whose name or value runs past the block.
PayloadContents ParseRecord(const std::vector<std::uint8_t>& bytes) {
    PayloadContents contents;
    std::uint16_t count = 0;
    if (!ReadAt(bytes, 0, contents.guid) || !ReadAt(bytes, kRecordFieldCount, count)) {
        TraceError(kTraceRecordBlockMalformed, -1, static_cast<std::uint64_t>(bytes.size()));
        contents.sound = false;
        return contents;
    }
    size_t offset = kRecordEntries;
    for (std::int32_t entry = 0; entry < count; ++entry) {
        std::uint32_t nameBytes = 0;
        if (!ReadAt(bytes, offset, nameBytes) || nameBytes > bytes.size() - offset - 4 ||
            bytes.size() - offset - 4 - nameBytes < kWireSize) {
            TraceError(kTraceRecordBlockMalformed, entry, nameBytes);
            contents.sound = false;
            return contents;
        }
        std::wstring name((nameBytes + 1) / 2, L'\0');
        std::memcpy(name.data(), bytes.data() + offset + 4, nameBytes);
        WireValue value{};
        ReadAt(bytes, offset + 4 + nameBytes, value);
        contents.entries.emplace_back(std::move(name), value);
        offset += 4 + nameBytes + kWireSize;
    }
    return contents;
}

// The descriptor of a string in a named mapping: "S|<bytes>|Tarnwick_MMF_<n>".
struct MappedString {
    std::uint64_t size = 0;
    std::wstring name;
};

std::optional<MappedString> ParseDescriptor(const std::wstring& text) {
    if (text.size() < 4 || text.compare(0, 2, L"S|") != 0) return std::nullopt;
    const size_t bar = text.find(L'|', 2);
    if (bar == std::wstring::npos || bar == 2 || bar - 2 > 10) return std::nullopt;
    MappedString mapped;
    for (size_t i = 2; i < bar; ++i) {
        if (text[i] < L'0' || text[i] > L'9') return std::nullopt;
        mapped.size = mapped.size * 10 + static_cast<std::uint64_t>(text[i] - L'0');
    }
    mapped.name = text.substr(bar + 1);
    return mapped;
}

// A type-14 value is either a decimal or the handle of a mapped string's descriptor, which
// is zero-extended and leaves the reserved words zero. The block it names is taken only when
// it holds a descriptor; a decimal whose bits happen to name a block leaves it alone.
std::optional<MappedString> TakeDescriptor(VARTYPE type, const void* bits,
                                           CReceivedBlocks& received) {
    std::uint16_t words[4] = {};
    std::uint64_t data = 0;
    std::memcpy(words, bits, sizeof words);
    std::memcpy(&data, static_cast<const std::uint8_t*>(bits) + sizeof words, sizeof data);
    if (type != CMarshalHelper::kMappedStringType || words[1] != 0 || words[2] != 0 ||
        words[3] != 0 || data == 0 || data > 0xFFFFFFFFu) {
        return std::nullopt;
    }
    const auto handle = static_cast<std::uint32_t>(data);
    if (received.Holds(handle)) return std::nullopt;
    std::optional<MappedString> mapped;
    {
        const COpenedBlock block(handle, Here(__LINE__));
        const std::optional<std::wstring> text =
            block.IsOpen() ? ReadBlockText(block.Bytes(), 0) : std::nullopt;
        if (text) mapped = ParseDescriptor(*text);
    }
    if (mapped && received.Claim(handle)) DestroySharedBlock(handle);
    return mapped;
}

// Frees a payload block and every block nested in it without restoring anything: for a
// payload nested too deeply to restore. Works through a list rather than by recursion, and
// each block is claimed when taken, so a block that names itself ends the walk.
void DrainPayload(const WireValue& payload, CReceivedBlocks& received) {
    std::vector<WireValue> pending{payload};
    while (!pending.empty()) {
        const WireValue next = pending.back();
        pending.pop_back();
        if (next.Type == CMarshalHelper::kMappedStringType) {
            TakeDescriptor(next.Type, &next, received);
            continue;
        }
        const auto handle = static_cast<std::uint32_t>(next.Data);
        if (!CMarshalHelper::HasPayload(next.Type) || !received.Claim(handle)) continue;
        const std::optional<std::vector<std::uint8_t>> bytes =
            TakeSharedBlock(handle, Here(__LINE__));
        if (!bytes || next.Type == VT_BSTR) continue;
        const PayloadContents contents =
            next.Type == VT_RECORD ? ParseRecord(*bytes) : ParseArray(*bytes);
        for (const auto& [name, wire] : contents.entries) pending.push_back(wire);
    }
}

void Restore(VARIANT& value, int depth, CReceivedBlocks& received);

// Takes over the block that a moved string, array or record names; the value is left empty.
// A block that this message's receiver holds or has taken already is refused.
std::optional<std::vector<std::uint8_t>> TakePayload(VARIANT& value, int depth,
                                                     CReceivedBlocks& received) {
    const VARTYPE type = value.vt;
    const std::uint32_t handle = CMarshalHelper::HandleOf(value);
    MakeEmpty(value);
    if (received.Holds(handle)) {
        TraceError(kTracePayloadRefused, handle, static_cast<std::uint32_t>(type));
        return std::nullopt;
    }
    if (depth >= CMarshalHelper::kMaxNesting) {
        TraceError(kTraceNestedTooDeep, handle, depth);
        DrainPayload(WireValue{type, {}, handle}, received);
        return std::nullopt;
    }
    received.Claim(handle);
    std::optional<std::vector<std::uint8_t>> bytes = TakeSharedBlock(handle, Here(__LINE__));
    if (!bytes) TraceError(kTracePayloadUnreadable, handle);
    return bytes;
}

// A value that points into the sender's process: an interface pointer or a reference. It
// means nothing here, and copying, converting or clearing it would go through it.
bool PointsIntoSender(const VARIANT& value) noexcept {
    if ((value.vt & VT_BYREF) != 0) return true;
    return (value.vt == VT_UNKNOWN || value.vt == VT_DISPATCH) && value.punkVal != nullptr;
}

// The string that a named mapping holds, as a new BSTR: at most as many bytes as both its
// descriptor and the mapping's first run of committed, readable pages allow, up to the first
// zero unit. Null when the mapping cannot be read.
BSTR ReadMappedString(const MappedString& mapped) {
    // Only the mappings this format makes are opened, never another of the session's.
    if (mapped.name.rfind(kMappingPrefix, 0) != 0) return nullptr;
    const UniqueHandle mapping(OpenFileMappingW(FILE_MAP_READ, FALSE, mapped.name.c_str()));
    if (mapping == nullptr) return nullptr;
    const UniqueView view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    MEMORY_BASIC_INFORMATION region{};
    constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY;
    if (view == nullptr || VirtualQuery(view.get(), &region, sizeof region) == 0 ||
        region.State != MEM_COMMIT || (region.Protect & kReadable) == 0) {
        return nullptr;
    }
    const std::uint64_t bytes = std::min<std::uint64_t>(mapped.size, region.RegionSize);
    const auto* units = static_cast<const wchar_t*>(view.get());
    const size_t count = std::min<size_t>(bytes / sizeof(wchar_t), 0x7FFFFFFF);
    return SysAllocStringLen(units, static_cast<UINT>(wcsnlen(units, count)));
}

// A type-14 value that names a descriptor becomes the mapped string, or VT_EMPTY when the
// mapping cannot be read; the descriptor block is freed either way. A decimal is left alone.
void RestoreMappedString(VARIANT& value, CReceivedBlocks& received) {
    const std::optional<MappedString> mapped = TakeDescriptor(value.vt, &value, received);
    if (!mapped) return;
    MakeEmpty(value);
    const BSTR text = ReadMappedString(*mapped);
    if (text == nullptr) {
        TraceError(kTraceMappedStringUnreadable, mapped->name.c_str());
        return;
    }
    value.vt = VT_BSTR;
    V_BSTR(&value) = text;
}

// A value that another process sent, at any depth: its payload restored and its blocks
// taken over; a pointer into the sender's process becomes VT_EMPTY.
void RestoreReceived(VARIANT& value, int depth, CReceivedBlocks& received) {
    if (value.vt == CMarshalHelper::kMappedStringType) {
        RestoreMappedString(value, received);
    } else {
        Restore(value, depth, received);
    }
    if (PointsIntoSender(value)) {
        TraceError(kTraceForeignPointer, static_cast<std::uint32_t>(value.vt));
        MakeEmpty(value);
    }
}

void RestoreElement(CScopedVariant& element, const WireValue& wire, int depth,
                    CReceivedBlocks& received) {
    element.Get() = CMarshaller::WidenWireValue(wire);
    RestoreReceived(element.Get(), depth, received);
}

void RestoreArray(VARIANT& value, int depth, CReceivedBlocks& received) {
    const std::optional<std::vector<std::uint8_t>> bytes = TakePayload(value, depth, received);
    if (!bytes) return;
    const PayloadContents contents = ParseArray(*bytes);
    if (!contents.sound) return;
    const auto count = static_cast<LONG>(contents.entries.size());
    received.Reserve(contents.entries.size());
    UniqueSafeArray array(SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(count)));
    if (array == nullptr) TraceError(kTraceArrayCreateFailed, count);
    {
        // Each element moves into its place: the array takes it over without a copy.
        CLockedVariants elements(array.get());
        if (array != nullptr && FAILED(elements.Result())) {
            TraceFailure(kTraceArrayPutFailed, elements.Result(), LONG{-1});
            array.reset();
        }
        // Every element is restored, even without an array, so that its blocks are freed.
        for (LONG i = 0; i < count; ++i) {
            CScopedVariant element;
            RestoreElement(element, contents.entries[i].second, depth + 1, received);
            if (array == nullptr) continue;
            elements[static_cast<ULONG>(i)] = element.Get();
            element.Forget();
        }
    }
    if (array == nullptr) return;
    // What arrives is an array of VARIANTs, whatever element type the sender named.
    value.vt = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&value) = array.release();
}

// Bytes a field of the type takes in a record; 0 for types a field cannot be given here.
size_t FieldStorageSize(VARTYPE type) {
    switch (type) {
        case VT_I1:
        case VT_UI1:
            return 1;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            return 2;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
        case VT_ERROR:
            return 4;
        case VT_I8:
        case VT_UI8:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
            return 8;
        case VT_DECIMAL:
            return sizeof(DECIMAL);
        default:
            return 0;
    }
}

// Stores the value, converted to the field's type, into the field's storage in the record.
// IRecordInfo::PutField would do this, but Wine 8's converts through a VARIANT it never
// initialises and so refuses at random.
HRESULT PutRecordField(IRecordInfo& info, void* record, const wchar_t* name, VARIANT& value) {
    VARIANT storage;
    VariantInit(&storage);
    void* arrayData = nullptr;
    HRESULT hr = info.GetFieldNoCopy(record, name, &storage, &arrayData);
    if (FAILED(hr)) return hr;
    const auto type = static_cast<VARTYPE>(storage.vt & ~VT_BYREF);
    if ((storage.vt & VT_BYREF) == 0 || storage.byref == nullptr ||
        (type != VT_BSTR && FieldStorageSize(type) == 0)) {
        return DISP_E_BADVARTYPE;
    }
    CScopedVariant converted;
    hr = VariantChangeType(&converted.Get(), &value, 0, type);
    if (FAILED(hr)) return hr;
    if (type == VT_BSTR) {
        auto* field = static_cast<BSTR*>(storage.byref);
        SysFreeString(*field);
        *field = converted.Get().bstrVal;
        converted.Forget();
    } else if (type == VT_DECIMAL) {
        DECIMAL decimal = converted.Get().decVal;
        decimal.wReserved = 0;
        std::memcpy(storage.byref, &decimal, sizeof decimal);
    } else {
        std::memcpy(storage.byref, &converted.Get().llVal, FieldStorageSize(type));
    }
    return S_OK;
}

CRecordOwner CreateRecord(const GUID& guid) {
    Microsoft::WRL::ComPtr<ITypeInfo> type;
    if (!GetTypeLibResolutionService()->GetTypeInfoByGuid(&guid, &type)) {
        wchar_t text[40] = {};
        StringFromGUID2(guid, text, 40);
        TraceError(kTraceRecordTypeUnknown, static_cast<const wchar_t*>(text));
        return {};
    }
    Microsoft::WRL::ComPtr<IRecordInfo> info;
    const HRESULT hr = GetRecordInfoFromTypeInfo(type.Get(), &info);
    if (FAILED(hr)) {
        TraceFailure(kTraceRecordInfoFailed, hr);
        return {};
    }
    void* data = info->RecordCreate();
    if (data == nullptr) TraceError(kTraceRecordCreateFailed);
    return CRecordOwner(info.Detach(), data);
}

void RestoreRecord(VARIANT& value, int depth, CReceivedBlocks& received) {
    const std::optional<std::vector<std::uint8_t>> bytes = TakePayload(value, depth, received);
    if (!bytes) return;
    const PayloadContents contents = ParseRecord(*bytes);
    CRecordOwner record = contents.sound ? CreateRecord(contents.guid) : CRecordOwner{};
    // Every field is restored, even without a record, so that its blocks are freed.
    for (const auto& [name, wire] : contents.entries) {
        CScopedVariant field;
        RestoreElement(field, wire, depth + 1, received);
        if (record.Data() == nullptr) continue;
        const HRESULT hr = PutRecordField(*record.Info(), record.Data(), name.c_str(), field.Get());
        if (FAILED(hr)) TraceFailure(kTraceRecordPutFailed, hr, name.c_str());
    }
    record.HandTo(value);
}

// The units of a string block up to its first zero unit, as a new BSTR copied straight from
// the block; null (traced) when the block holds no zero unit. A sender that still writes can
// change what is copied, never how much: both the search and the copy stay within the block.
BSTR ReadBlockString(std::span<const std::uint8_t> block, std::uint32_t handle) {
    const size_t units = block.size() / sizeof(wchar_t);
    size_t length = 0;
    for (wchar_t unit = 0; length < units; ++length) {
        std::memcpy(&unit, block.data() + length * sizeof(wchar_t), sizeof unit);
        if (unit == L'\0') break;
    }
    if (length == units) {
        TraceError(kTraceStringUnterminated, handle, static_cast<std::uint64_t>(block.size()));
        return nullptr;
    }
    const BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(length));
    if (text == nullptr) {
        TraceError(kTraceStringAllocationFailed, handle);
        return nullptr;
    }
    std::memcpy(text, block.data(), length * sizeof(wchar_t));
    return text;
}

// A string block: a null string when it cannot be read, VT_EMPTY when it is refused. The block
// is read where it lies rather than through a copy of it (strings come by the thousand).
void RestoreString(VARIANT& value, CReceivedBlocks& received) {
    const std::uint32_t handle = CMarshalHelper::HandleOf(value);
    MakeEmpty(value);
    if (received.Holds(handle)) {
        TraceError(kTracePayloadRefused, handle, static_cast<std::uint32_t>(VT_BSTR));
        return;
    }
    received.Claim(handle);
    value.vt = VT_BSTR;
    COpenedBlock block(handle, Here(__LINE__));
    if (!block.IsOpen()) {
        TraceError(kTracePayloadUnreadable, handle);
        return;
    }
    V_BSTR(&value) = ReadBlockString(block.Bytes(), handle);
    block.Destroy();
}

void Restore(VARIANT& value, int depth, CReceivedBlocks& received) {
    const VARTYPE type = value.vt;
    if (CMarshalHelper::IsArrayType(type)) {
        RestoreArray(value, depth, received);
    } else if (type == VT_BSTR) {
        RestoreString(value, received);
    } else if (type == VT_RECORD) {
        RestoreRecord(value, depth, received);
    }
}

// Runs a restore of the value; running out of memory part-way is traced, and the blocks
// taken so far stay freed.
template <typename Restorer>
void RestoreTraced(VARIANT& value, const Restorer& restore) {
    try {
        restore();
    } catch (const std::exception&) {
        TraceError(kTraceUnmarshalFailed, static_cast<std::uint32_t>(value.vt));
    } catch (const CComError& error) {
        TraceError(kTraceUnmarshalFailed, static_cast<std::uint32_t>(value.vt), error.Error());
    }
}

}  // namespace

bool CMarshalHelper::IsArrayType(VARTYPE type) noexcept {
    if ((type & VT_BYREF) != 0) return false;
    return (type & VT_ARRAY) != 0 || (type & VT_SAFEARRAY) == VT_SAFEARRAY;
}

bool CMarshalHelper::HasPayload(VARTYPE type) noexcept {
    return IsArrayType(type) || type == VT_BSTR || type == VT_RECORD;
}

std::uint32_t CMarshalHelper::HandleOf(const VARIANT& value) noexcept {
    return static_cast<std::uint32_t>(V_UI8(&value));
}

std::uint32_t CMarshalHelper::StoreBlock(const void* bytes, std::uint32_t size) {
    CBlockHolder holder;
    const std::span<std::uint8_t> block = holder.Allocate(size, Here(__LINE__));
    if (block.empty()) {
        TraceError(kTraceStoreFailed, size);
        return 0;
    }
    std::memcpy(block.data(), bytes, size);
    return holder.Release();
}

std::uint32_t CMarshalHelper::StoreString(const wchar_t* text, UINT length) {
    if (text == nullptr) length = 0;
    const std::uint64_t bytes = (std::uint64_t{length} + 1) * sizeof(wchar_t);
    CBlockHolder holder;
    const std::span<std::uint8_t> block =
        bytes <= MAXDWORD ? holder.Allocate(static_cast<std::uint32_t>(bytes), Here(__LINE__))
                          : std::span<std::uint8_t>{};
    if (block.empty()) {
        TraceError(kTraceStoreFailed, bytes);
        return 0;
    }
    if (length > 0) std::memcpy(block.data(), text, length * sizeof(wchar_t));
    WriteAt(block, length * sizeof(wchar_t), L'\0');
    return holder.Release();
}

std::uint32_t CMarshalHelper::StoreInNamedMapping(const void* bytes, std::uint32_t size) {
    for (int attempt = 0; attempt < kMappingAttempts; ++attempt) {
        wchar_t number[128] = {};
        _snwprintf_s(number, _TRUNCATE, L"%d", g_nextMappingNumber.fetch_add(1));
        wchar_t name[256] = {};
        _snwprintf_s(name, _TRUNCATE, L"Tarnwick_MMF_%s", number);
        UniqueHandle mapping(
            CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name));
        if (mapping == nullptr) {
            TraceError(kTraceMappingFailed, static_cast<const wchar_t*>(name),
                       static_cast<std::uint32_t>(GetLastError()));
            return 0;
        }
        if (GetLastError() == ERROR_ALREADY_EXISTS) {
            // Another party's mapping: never write into it.
            Trace(kTraceGuid, TraceLevel::Warning, kTraceFlagComponent, kTraceMappingNameTaken,
                  static_cast<const wchar_t*>(name));
            continue;
        }
        UniqueView view(MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, size));
        if (view == nullptr) {
            TraceError(kTraceMappingViewFailed, static_cast<const wchar_t*>(name),
                       static_cast<std::uint32_t>(GetLastError()));
            return 0;
        }
        std::memcpy(view.get(), bytes, size);
        if (!CNamedMappings::Instance().Keep(mapping, view)) return 0;
        wchar_t sizeText[128] = {};
        _snwprintf_s(sizeText, _TRUNCATE, L"%u", size);
        wchar_t descriptor[512] = {};
        _snwprintf_s(descriptor, _TRUNCATE, L"S|%s|%s", sizeText, name);
        return StoreString(descriptor, static_cast<UINT>(std::wcslen(descriptor)));
    }
    TraceError(kTraceMappingNamesExhausted, kMappingAttempts);
    return 0;
}

void CMarshalHelper::MarshalValue(VARIANT& value) {
    try {
        const VARTYPE type = value.vt;
        if (IsArrayType(type)) {
            MarshalArray(value);
        } else if (type == VT_BSTR) {
            MarshalString(value);
        } else if (type == VT_RECORD) {
            MarshalRecord(value);
        }
    } catch (const std::exception&) {
        TraceError(kTraceMarshalFailed, static_cast<std::uint32_t>(value.vt));
    } catch (const CComError& error) {
        TraceError(kTraceMarshalFailed, static_cast<std::uint32_t>(value.vt), error.Error());
    }
}

void CMarshalHelper::UnmarshalValue(VARIANT& value) {
    CReceivedBlocks received;
    UnmarshalValue(value, received);
}

void CMarshalHelper::UnmarshalValue(VARIANT& value, CReceivedBlocks& received) {
    RestoreTraced(value, [&] { RestoreReceived(value, 0, received); });
}

void CMarshalHelper::DiscardReceived(const WireValue& wire, CReceivedBlocks& received) {
    VARIANT traced = CMarshaller::WidenWireValue(wire);
    RestoreTraced(traced, [&] { DrainPayload(wire, received); });
}

void CMarshalHelper::DiscardValue(VARIANT& value) {
    if (value.vt == kMappedStringType) {
        DestroySharedBlock(HandleOf(value));
    } else {
        // The value is this side's own: its payload is restored only to be freed, and what
        // it holds besides is released as usual.
        CReceivedBlocks received;
        RestoreTraced(value, [&] { Restore(value, 0, received); });
        ClearVariant(value);
    }
    MakeEmpty(value);
}

int CMarshalHelper::CreateObjectReference(const ReturnAddressRecord* first,
                                          const wchar_t* firstText, const wchar_t* secondText,
                                          const ReturnAddressRecord* second, WireValue* reference) {
    if (first == nullptr || second == nullptr || firstText == nullptr || secondText == nullptr ||
        reference == nullptr) {
        TraceError(kTraceObjectReferenceRefused, firstText, secondText);
        return 0;
    }
    CBlockHolder block;
    const std::span<std::uint8_t> bytes = block.Allocate(kObjectReferenceSize, Here(__LINE__));
    CBlockHolder firstString(StoreString(firstText, static_cast<UINT>(std::wcslen(firstText))));
    CBlockHolder secondString(StoreString(secondText, static_cast<UINT>(std::wcslen(secondText))));
    if (bytes.empty() || firstString.Get() == 0 || secondString.Get() == 0) {
        TraceError(kTraceObjectReferenceFailed, firstText, secondText);
        return 0;
    }
    WriteAt(bytes, 0, *first);
    WriteAt(bytes, sizeof(ReturnAddressRecord), *second);
    WriteAt(bytes, 2 * sizeof(ReturnAddressRecord), firstString.Release());
    WriteAt(bytes, 2 * sizeof(ReturnAddressRecord) + 4, secondString.Release());
    *reference = WireValue{VT_VARIANT, {}, block.Release()};
    return 1;
}

}  // namespace tarnwick
