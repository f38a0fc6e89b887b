// The trace provider through a substitute platform; and the child-process helper.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include "trace/ctraceprovider.h"
#include "support/childmode.h"
#include "support/childprocess.h"

TARNWICK_CHILD_MODE(ExitWithArgument) { return args.empty() ? 99 : std::stoi(args[0]); }

namespace tarnwick {
namespace {

struct FakeEtw {
    ULONG registerStatus = ERROR_SUCCESS;
    WMIDPREQUEST callback = nullptr;
    PVOID context = nullptr;
    std::vector<TRACEHANDLE> unregistered;
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
constexpr TRACEHANDLE kRegistration = 0x5150, kLogger = 0xABCDEF;

ULONG WINAPI FakeRegister(WMIDPREQUEST callback, PVOID context, LPCGUID control, ULONG count,
                          PTRACE_GUID_REGISTRATION registrations, LPCWSTR, LPCWSTR,
                          PTRACEHANDLE handle) {
    etw.callback = callback;
    etw.context = context;
    EXPECT_TRUE(IsEqualGUID(*control, kTraceControlGuid));
    EXPECT_EQ(count, 1u);
    EXPECT_TRUE(IsEqualGUID(*registrations[0].Guid, *control));
    *handle = kRegistration;
    return etw.registerStatus;
}
ULONG WINAPI FakeUnregister(TRACEHANDLE handle) {
    etw.unregistered.push_back(handle);
    return ERROR_SUCCESS;
}
TRACEHANDLE WINAPI FakeLogger(PVOID buffer) {
    etw.bufferSeen = buffer;
    return kLogger;
}
UCHAR WINAPI FakeLevel(TRACEHANDLE handle) { return handle == kLogger ? etw.level : 0; }
ULONG WINAPI FakeFlags(TRACEHANDLE handle) { return handle == kLogger ? etw.flags : 0; }
ULONG __cdecl FakeMessage(TRACEHANDLE logger, ULONG, LPCGUID unit, USHORT number, ...) {
    FakeEtw::Message message{logger, *unit, number, {}};
    va_list args;
    va_start(args, number);
    while (const void* data = va_arg(args, const void*)) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        message.values.emplace_back(bytes, bytes + va_arg(args, size_t));
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

    // Sends a control code; expects `status`, and the size cleared on success only.
    void Control(ULONG code, ULONG status = 0) {
        ULONG size = 77;
        EXPECT_EQ(etw.callback(static_cast<WMIDPREQUESTCODE>(code), etw.context, &size, &header_),
                  status)
            << code;
        EXPECT_EQ(size, status == 0 ? 0u : 77u) << code;
    }
    void Enable(TraceLevel level, ULONG flags) {
        etw.level = static_cast<UCHAR>(level);
        etw.flags = flags;
        Control(WMI_ENABLE_EVENTS);
    }
    bool Gate(ULONG flag, TraceLevel level) { return provider_.IsEnabled(flag, level); }

    WNODE_HEADER header_{};
    CTraceProvider provider_{kFakeApi};
};

TEST_F(TraceProviderTest, RegistersWithItsControlGuidAndUndoesOnlyASuccessfulRegistration) {
    etw.registerStatus = ERROR_ACCESS_DENIED;
    EXPECT_EQ(provider_.Register(), static_cast<ULONG>(ERROR_ACCESS_DENIED));
    Enable(TraceLevel::Verbose, 0xFFFFFFFF);
    EXPECT_FALSE(Gate(kTraceFlagComponent, TraceLevel::Error)) << "not registered";
    provider_.Unregister();
    EXPECT_TRUE(etw.unregistered.empty());

    etw.registerStatus = ERROR_SUCCESS;
    ASSERT_EQ(provider_.Register(), 0u);
    EXPECT_FALSE(Gate(kTraceFlagComponent, TraceLevel::Error)) << "not enabled yet";
    provider_.Unregister();
    EXPECT_EQ(etw.unregistered, std::vector<TRACEHANDLE>{kRegistration});
}

TEST_F(TraceProviderTest, EnableOpensTheGateForItsLevelAndFlagsOnlyAndDisableShutsIt) {
    provider_.Register();
    Enable(TraceLevel::Information, kTraceFlagComponent);
    EXPECT_EQ(etw.bufferSeen, &header_);
    EXPECT_TRUE(Gate(kTraceFlagComponent, TraceLevel::Information));
    EXPECT_FALSE(Gate(kTraceFlagComponent, TraceLevel::Verbose));
    EXPECT_FALSE(Gate(kTraceFlagEntryPoint, TraceLevel::Error));
    for (ULONG code : {0u, 3u, 8u}) Control(code, ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(Gate(kTraceFlagComponent, TraceLevel::Information)) << "other codes change nothing";
    Control(WMI_DISABLE_EVENTS);
    EXPECT_EQ(provider_.Logger(), 0u);
    EXPECT_FALSE(Gate(kTraceFlagComponent, TraceLevel::Error));
}

TEST_F(TraceProviderTest, WritesOnlyThroughAnOpenGateWithItsValues) {
    provider_.Write(kUnit, TraceLevel::Error, kTraceFlagComponent, 1);
    provider_.Register();
    provider_.Write(kUnit, TraceLevel::Error, kTraceFlagComponent, 2);
    Enable(TraceLevel::Warning, kTraceFlagComponent);
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
    EXPECT_EQ(message.logger, kLogger);
    EXPECT_TRUE(IsEqualGUID(message.unit, kUnit));
    EXPECT_EQ(message.number, 5);
    ASSERT_EQ(message.values.size(), 4u);
    const auto bytes = [](const auto& value) {
        const auto* at = reinterpret_cast<const unsigned char*>(&value);
        return std::vector<unsigned char>(at, at + sizeof value);
    };
    EXPECT_EQ(message.values[0], bytes(small));
    EXPECT_EQ(message.values[1], bytes(large));
    EXPECT_EQ(message.values[2], bytes(L"NULL"));
    EXPECT_EQ(message.values[3], bytes(window));
}

// Every second-process test trusts the exit code, so an unknown mode must not pass.
TEST(ChildProcess, ReportsTheExitCodeOfItsModeAndFailsAnUnknownOne) {
    test::CChildProcess child, unknown;
    ASSERT_TRUE(child.Start(L"ExitWithArgument", {L"42"}));
    EXPECT_EQ(child.Wait(), std::optional<DWORD>(42));
    ASSERT_TRUE(unknown.Start(L"NoSuchMode"));
    EXPECT_EQ(unknown.Wait(), std::optional<DWORD>(static_cast<DWORD>(-1)));
}

}  // namespace
}  // namespace tarnwick
