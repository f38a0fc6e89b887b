#include "bench/ckernelcallcounter.h"

#include <atomic>
#include <cstring>

namespace tarnwick::bench {

namespace {

std::atomic<std::int64_t> g_counts[2];

void Count(CallSide side) {
    g_counts[static_cast<int>(side)].fetch_add(1, std::memory_order_relaxed);
}

// One forwarder per imported function, side and line of the table below.
template <CallSide Side, int Line, typename Pointer>
struct CForwarder;

template <CallSide Side, int Line, typename Result, typename... Arguments>
struct CForwarder<Side, Line, Result (*)(Arguments...)> {
    static inline Result (*original)(Arguments...) = nullptr;
    static Result WINAPI Call(Arguments... arguments) {
        Count(Side);
        return original(arguments...);
    }
};

// A critical section costs kernel calls only when it has to wait for its owner: the wait,
// and the owner's wake as it leaves.
template <CallSide Side>
struct CContendedEnter {
    static inline void(WINAPI* original)(LPCRITICAL_SECTION) = nullptr;
    static void WINAPI Call(LPCRITICAL_SECTION section) {
        if (TryEnterCriticalSection(section)) return;
        Count(Side);
        Count(Side);
        original(section);
    }
};

struct CountedImport {
    const char* name;
    std::uintptr_t forwarders[2];
    void** originals[2];
};

template <typename Forwarder>
std::uintptr_t Address() {
    return reinterpret_cast<std::uintptr_t>(&Forwarder::Call);
}

template <typename Forwarder>
void** Slot() {
    return reinterpret_cast<void**>(&Forwarder::original);
}

// `transportOnly`: the call is the transport itself, whichever module makes it.
template <int Line, typename Pointer>
CountedImport Entry(const char* name, bool transportOnly = false) {
    using Own = CForwarder<CallSide::Own, Line, Pointer>;
    using Transport = CForwarder<CallSide::Transport, Line, Pointer>;
    if (transportOnly) {
        return {name, {Address<Transport>(), Address<Transport>()},
                {Slot<Transport>(), Slot<Transport>()}};
    }
    return {name, {Address<Own>(), Address<Transport>()}, {Slot<Own>(), Slot<Transport>()}};
}

// Slim reader/writer locks likewise.
template <CallSide Side, bool Exclusive>
struct CContendedAcquire {
    static inline void(WINAPI* original)(PSRWLOCK) = nullptr;
    static void WINAPI Call(PSRWLOCK lock) {
        if (Exclusive ? TryAcquireSRWLockExclusive(lock) : TryAcquireSRWLockShared(lock)) return;
        Count(Side);
        Count(Side);
        original(lock);
    }
};

// A lock counted only when it waits.
template <template <CallSide> typename Forwarder>
CountedImport Contended(const char* name) {
    using Own = Forwarder<CallSide::Own>;
    using Transport = Forwarder<CallSide::Transport>;
    return {name, {Address<Own>(), Address<Transport>()}, {Slot<Own>(), Slot<Transport>()}};
}

template <CallSide Side>
using CExclusiveAcquire = CContendedAcquire<Side, true>;
template <CallSide Side>
using CSharedAcquire = CContendedAcquire<Side, false>;

#define TW_COUNTED(function) Entry<__LINE__, decltype(&::function)>(#function)
#define TW_TRANSPORT(function) Entry<__LINE__, decltype(&::function)>(#function, true)

const CountedImport kCounted[] = {
    TW_COUNTED(WaitForSingleObject),
    TW_COUNTED(WaitForSingleObjectEx),
    TW_COUNTED(WaitForMultipleObjects),
    TW_COUNTED(WaitForMultipleObjectsEx),
    TW_COUNTED(MsgWaitForMultipleObjects),
    TW_COUNTED(SetEvent),
    TW_COUNTED(ResetEvent),
    TW_COUNTED(CreateEventW),
    TW_COUNTED(OpenEventW),
    TW_COUNTED(CreateMutexW),
    TW_COUNTED(ReleaseMutex),
    TW_COUNTED(CreateSemaphoreW),
    TW_COUNTED(ReleaseSemaphore),
    TW_COUNTED(CloseHandle),
    TW_COUNTED(DuplicateHandle),
    TW_COUNTED(OpenProcess),
    TW_COUNTED(GetProcessTimes),
    TW_COUNTED(CreateFileMappingW),
    TW_COUNTED(OpenFileMappingW),
    TW_COUNTED(MapViewOfFile),
    TW_COUNTED(UnmapViewOfFile),
    TW_COUNTED(CreateThread),
    TW_COUNTED(Sleep),
    TW_COUNTED(SleepEx),
    TW_COUNTED(PostMessageW),
    TW_COUNTED(GetPropW),
    TW_COUNTED(SetPropW),
    TW_COUNTED(RemovePropW),
    TW_TRANSPORT(SendMessageW),
    TW_TRANSPORT(SendMessageTimeoutW),
    Contended<CContendedEnter>("EnterCriticalSection"),
    Contended<CExclusiveAcquire>("AcquireSRWLockExclusive"),
    Contended<CSharedAcquire>("AcquireSRWLockShared"),
};

#undef TW_COUNTED
#undef TW_TRANSPORT

const CountedImport* Find(const char* name) {
    for (const CountedImport& counted : kCounted) {
        if (std::strcmp(counted.name, name) == 0) return &counted;
    }
    return nullptr;
}

bool Redirect(IMAGE_THUNK_DATA& slot, const CountedImport& counted, CallSide side) {
    const int index = static_cast<int>(side);
    DWORD protection = 0;
    if (!VirtualProtect(&slot, sizeof slot, PAGE_READWRITE, &protection)) return false;
    *counted.originals[index] = reinterpret_cast<void*>(slot.u1.Function);
    slot.u1.Function = counted.forwarders[index];
    VirtualProtect(&slot, sizeof slot, protection, &protection);
    return true;
}

}  // namespace

bool CKernelCallCounter::Install(HMODULE module, CallSide side) {
    auto* base = reinterpret_cast<std::uint8_t*>(module);
    if (base == nullptr) return false;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return false;
    auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
    for (; library->Name != 0; ++library) {
        // Without the name table the names were overwritten with the addresses.
        if (library->OriginalFirstThunk == 0) continue;
        auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            const CountedImport* counted = Find(reinterpret_cast<const char*>(byName->Name));
            if (counted != nullptr && !Redirect(*slots, *counted, side)) return false;
        }
    }
    return true;
}

KernelCalls CKernelCallCounter::Counted() {
    return {g_counts[0].load(), g_counts[1].load()};
}

}  // namespace tarnwick::bench
