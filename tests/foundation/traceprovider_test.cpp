// The trace provider's registration, control callback and gate, driven through a substitute
// platform that records what the provider asks of it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include "remoting/ctraceprovider.h"

namespace tarnwick {
namespace {

struct FakeEtw {
    TRACEHANDLE registration = 0x5150;
    ULONG registerStatus = ERROR_SUCCESS;
    WMIDPREQUEST callback = nullptr;
    PVOID context = nullptr;
    GUID controlGuid{};
    std::vector<TRACEHANDLE> unregistered;
    TRACEHANDLE logger = 0xABCDEF;
    UCHAR level = 0;
    ULONG flags = 0;
    PVOID bufferSeen = nullptr;
    struct Message {
        TRACEHANDLE logger;
        GUID unit;
        USHORT number;
        std::vector<std::vector<unsigned char>> values;
    };
    std::vector<Message> messages;
};
FakeEtw etw;

ULONG WINAPI FakeRegister(WMIDPREQUEST callback, PVOID context, LPCGUID control, ULONG count,
                          PTRACE_GUID_REGISTRATION registrations, LPCWSTR, LPCWSTR,
                          PTRACEHANDLE handle) {
    etw.callback = callback;
    etw.context = context;
    etw.controlGuid = *control;
    EXPECT_EQ(count, 1u);
    EXPECT_TRUE(IsEqualGUID(*registrations[0].Guid, *control));
    *handle = etw.registration;
    return etw.registerStatus;
}
ULONG WINAPI FakeUnregister(TRACEHANDLE handle) {
    etw.unregistered.push_back(handle);
    return ERROR_SUCCESS;
}
TRACEHANDLE WINAPI FakeLogger(PVOID buffer) {
    etw.bufferSeen = buffer;
    return etw.logger;
}
UCHAR WINAPI FakeLevel(TRACEHANDLE handle) { return handle == etw.logger ? etw.level : 0; }
ULONG WINAPI FakeFlags(TRACEHANDLE handle) { return handle == etw.logger ? etw.flags : 0; }
ULONG __cdecl FakeMessage(TRACEHANDLE logger, ULONG, LPCGUID unit, USHORT number, ...) {
    FakeEtw::Message message{logger, *unit, number, {}};
    va_list args;
    va_start(args, number);
    while (const void* data = va_arg(args, const void*)) {
        const size_t size = va_arg(args, size_t);
        const auto* bytes = static_cast<const unsigned char*>(data);
        message.values.emplace_back(bytes, bytes + size);
    }
    va_end(args);
    etw.messages.push_back(message);
    return ERROR_SUCCESS;
}

constexpr TraceApi kFakeApi{&FakeRegister, &FakeUnregister, &FakeLogger,
                            &FakeLevel,    &FakeFlags,      &FakeMessage};
constexpr GUID kUnit = {0x11111111, 0x2222, 0x3333, {4, 4, 5, 5, 6, 6, 7, 7}};

class TraceProviderTest : public testing::Test {
  protected:
    void SetUp() override { etw = FakeEtw{}; }

    ULONG Control(ULONG code, ULONG* size) {
        return etw.callback(static_cast<WMIDPREQUESTCODE>(code), etw.context, size, &header_);
    }
    void Enable(UCHAR level, ULONG flags) {
        etw.level = level;
        etw.flags = flags;
        ULONG size = 99;
        ASSERT_EQ(Control(WMI_ENABLE_EVENTS, &size), 0u);
        EXPECT_EQ(size, 0u);
    }

    WNODE_HEADER header_{};
    CTraceProvider provider_{kFakeApi};
};

TEST_F(TraceProviderTest, RegistersWithItsControlGuidAndUndoesOnlyASuccessfulRegistration) {
    etw.registerStatus = ERROR_ACCESS_DENIED;
    EXPECT_EQ(provider_.Register(), static_cast<ULONG>(ERROR_ACCESS_DENIED));
    Enable(5, 0xFFFFFFFF);
    EXPECT_FALSE(provider_.IsEnabled(kTraceFlagComponent, TraceLevel::Error)) << "not registered";
    provider_.Unregister();
    EXPECT_TRUE(etw.unregistered.empty());

    etw.registerStatus = ERROR_SUCCESS;
    ASSERT_EQ(provider_.Register(), 0u);
    EXPECT_TRUE(IsEqualGUID(etw.controlGuid, kTraceControlGuid));
    EXPECT_EQ(etw.context, &provider_);
    EXPECT_FALSE(provider_.IsEnabled(kTraceFlagComponent, TraceLevel::Error)) << "not enabled yet";
    provider_.Unregister();
    EXPECT_EQ(etw.unregistered, std::vector<TRACEHANDLE>{0x5150});
}

TEST_F(TraceProviderTest, EnableOpensTheGateForItsLevelAndFlagsOnlyAndDisableShutsIt) {
    provider_.Register();
    Enable(static_cast<UCHAR>(TraceLevel::Information), kTraceFlagComponent);
    EXPECT_EQ(etw.bufferSeen, &header_);
    EXPECT_TRUE(provider_.IsEnabled(kTraceFlagComponent, TraceLevel::Information));
    EXPECT_FALSE(provider_.IsEnabled(kTraceFlagComponent, TraceLevel::Verbose));
    EXPECT_FALSE(provider_.IsEnabled(kTraceFlagEntryPoint, TraceLevel::Error));

    for (ULONG code : {0u, 1u, 2u, 3u, 6u, 7u, 8u}) {
        ULONG size = 77;
        EXPECT_EQ(Control(code, &size), static_cast<ULONG>(ERROR_INVALID_PARAMETER)) << code;
        EXPECT_EQ(size, 77u);
    }
    EXPECT_TRUE(provider_.IsEnabled(kTraceFlagComponent, TraceLevel::Information))
        << "other codes change nothing";
    ULONG size = 77;
    EXPECT_EQ(Control(WMI_DISABLE_EVENTS, &size), 0u);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(provider_.Logger(), 0u);
    EXPECT_FALSE(provider_.IsEnabled(kTraceFlagComponent, TraceLevel::Error));
}

TEST_F(TraceProviderTest, WritesOnlyThroughAnOpenGateWithItsValues) {
    provider_.Write(kUnit, TraceLevel::Error, kTraceFlagComponent, 1);
    provider_.Register();
    provider_.Write(kUnit, TraceLevel::Error, kTraceFlagComponent, 2);
    Enable(static_cast<UCHAR>(TraceLevel::Warning), kTraceFlagComponent);
    provider_.Write(kUnit, TraceLevel::Information, kTraceFlagComponent, 3);
    provider_.Write(kUnit, TraceLevel::Error, kTraceFlagEntryPoint, 4);
    ASSERT_TRUE(etw.messages.empty());

    const std::uint32_t small = 0x01020304;
    const std::uint64_t large = 0x1122334455667788ull;
    const wchar_t* none = nullptr;
    HWND window = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1A2B));
    provider_.Write(kUnit, TraceLevel::Warning, kTraceFlagComponent, 5, small, large, none, window);
    ASSERT_EQ(etw.messages.size(), 1u);
    const auto& message = etw.messages[0];
    EXPECT_EQ(message.logger, etw.logger);
    EXPECT_TRUE(IsEqualGUID(message.unit, kUnit));
    EXPECT_EQ(message.number, 5);
    ASSERT_EQ(message.values.size(), 4u);
    EXPECT_EQ(message.values[0].size(), 4u);
    EXPECT_EQ(0, std::memcmp(message.values[0].data(), &small, 4));
    EXPECT_EQ(0, std::memcmp(message.values[1].data(), &large, 8));
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(message.values[2].data())), L"NULL");
    EXPECT_EQ(message.values[2].size(), 5 * sizeof(wchar_t));
    EXPECT_EQ(0, std::memcmp(message.values[3].data(), &window, 8));
}

TEST(ModuleEntryPoint, LoadsAndUnloadsTheLibrary) {
    HMODULE module = LoadLibraryW(L"Tarnwick.Virtual.Native.x64.dll");
    ASSERT_NE(module, nullptr) << GetLastError();
    EXPECT_TRUE(FreeLibrary(module));
}

}  // namespace
}  // namespace tarnwick
