// Blocks that another process got wrong or forged, one known fault a row. Each is refused,
// or its value arrives empty, without reading past a block, and every block it names is
// freed: the fixture checks that no block is left alive.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <string>
#include <vector>

#include "marshalling/marshallingtest.h"
#include "messages/cmarshalhelper.h"
#include "messages/cmarshaller.h"

namespace tarnwick {
namespace {

using namespace test;
using namespace blockformat;

std::vector<std::uint8_t> CallBlock(Kind kind, std::int16_t count, size_t size) {
    std::vector<std::uint8_t> bytes(size);
    Put<std::uint16_t>(bytes, kMarker, 1);
    Put<std::uint16_t>(bytes, kKind, kind);
    PutText(bytes, kMemberName, L"Member");
    Put(bytes, kArgumentCount, count);
    for (int i = 0; i < count && kCallArguments + 16 * (i + 1) <= size; ++i) {
        Put<VARTYPE>(bytes, kCallArguments + 16 * i, VT_I4);
    }
    return bytes;
}

std::vector<std::uint8_t> Unterminated(std::vector<std::uint8_t> bytes, size_t from, size_t to) {
    for (size_t offset = from; offset + 1 < to; offset += 2) Put(bytes, offset, L'x');
    return bytes;
}

// A row's test name, which failures report: its fault, letters and digits only.
template <typename Row>
std::string RowName(const ::testing::TestParamInfo<Row>& info) {
    std::string name;
    for (const char* c = info.param.fault; *c != '\0'; ++c) {
        if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
    }
    return name;
}

struct MessageRow {
    const char* fault;
    std::function<std::vector<std::uint8_t>()> block;
};

class MalformedMessageBlock : public MarshallingTest,
                              public ::testing::WithParamInterface<MessageRow> {};

TEST_P(MalformedMessageBlock, IsRefusedWithoutAMessage) {
    const std::vector<std::uint8_t> bytes = GetParam().block();
    const std::uint32_t handle = MakeBlock(bytes);
    ASSERT_NE(handle, 0u);
    // As the service reads it: through the size the shared-memory library answers.
    std::uint32_t size = 0;
    const void* block = OpenSharedMemory(handle, &size, __LINE__, "malformedblock_test");
    ASSERT_NE(block, nullptr);
    ASSERT_EQ(size, bytes.size());
    IncomingMessage message;
    EXPECT_EQ(CMarshaller::UnmarshalBlock(
                  nullptr, std::span(static_cast<const std::uint8_t*>(block), size), message),
              0);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(message));
    Destroy(handle);
}

std::vector<std::uint8_t> SubscriptionBlock(size_t size) {
    std::vector<std::uint8_t> bytes = CallBlock(static_cast<Kind>(kKindSubscription), 0, size);
    PutText(bytes, kEventName, L"Click");
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    KnownFaults, MalformedMessageBlock,
    ::testing::Values(
        MessageRow{"argument count below 0", [] { return CallBlock(kKindMethod, -1, 560); }},
        MessageRow{"argument count beyond the format's 8",
                   [] { return CallBlock(kKindMethod, 9, 432 + 16 * 9); }},
        MessageRow{"argument count beyond the block",
                   [] { return CallBlock(kKindMethod, 3, 448); }},
        MessageRow{"property get count below 0",
                   [] { return CallBlock(kKindPropertyGet, -2, 448); }},
        MessageRow{"header cut short", [] { return CallBlock(kKindMethod, 0, 300); }},
        MessageRow{"block shorter than marker and kind",
                   [] {
                       return std::vector<std::uint8_t>{1, 0, 1};
                   }},
        MessageRow{"unterminated member name",
                   [] { return Unterminated(CallBlock(kKindMethod, 0, 560), 80, 240); }},
        MessageRow{"unterminated event name",
                   [] { return Unterminated(SubscriptionBlock(800), 432, 752); }},
        MessageRow{"unterminated subscription tag",
                   [] { return Unterminated(SubscriptionBlock(800), 752, 800); }},
        MessageRow{"unsubscription event name runs to the block's end",
                   [] {
                       return Unterminated(
                           CallBlock(static_cast<Kind>(kKindUnsubscription), 0, 500), 432, 500);
                   }},
        MessageRow{"unterminated return-address text",
                   [] {
                       std::vector<std::uint8_t> bytes(41);
                       Put<std::uint16_t>(bytes, kKind, kKindReturnAddress);
                       return Unterminated(bytes, 8, 41);
                   }}),
    RowName<MessageRow>);

struct PayloadRow {
    const char* fault;
    VARTYPE type;
    std::function<std::vector<std::uint8_t>()> block;
    VARTYPE arrives;
};

class MalformedPayloadBlock : public MarshallingTest,
                              public ::testing::WithParamInterface<PayloadRow> {};

TEST_P(MalformedPayloadBlock, ArrivesEmptyAndIsFreed) {
    const std::vector<std::uint8_t> bytes = GetParam().block();
    const std::uint32_t handle = MakeBlock(bytes);
    ASSERT_NE(handle, 0u);
    CTestVariant value;
    value->vt = GetParam().type;
    value->ullVal = handle;
    CMarshalHelper::UnmarshalValue(*value);
    EXPECT_EQ(value->vt, GetParam().arrives);
    EXPECT_EQ(value->ullVal, 0u) << "no data from a refused payload";
    EXPECT_FALSE(IsLive(handle));
}

std::vector<std::uint8_t> ArrayBlock(std::int16_t count, size_t elements) {
    std::vector<std::uint8_t> bytes(2 + 16 * elements + 2);
    Put(bytes, 0, count);
    return bytes;
}

// A record of the test library's two-field type whose one entry has a name of nameBytes
// bytes and the given room after it.
std::vector<std::uint8_t> RecordBlock(std::uint32_t nameBytes, size_t room) {
    std::vector<std::uint8_t> bytes(18 + 4 + room);
    Put(bytes, 0, kTwoFieldRecord);
    Put<std::uint16_t>(bytes, 16, 1);
    Put(bytes, 18, nameBytes);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    KnownFaults, MalformedPayloadBlock,
    ::testing::Values(PayloadRow{"array count below 0", VT_ARRAY | VT_VARIANT,
                                 [] { return ArrayBlock(-5, 2); }, VT_EMPTY},
                      PayloadRow{"array count beyond its block", VT_ARRAY | VT_VARIANT,
                                 [] { return ArrayBlock(10, 2); }, VT_EMPTY},
                      PayloadRow{"record entry name runs past its block", VT_RECORD,
                                 [] { return RecordBlock(1000, 40); }, VT_EMPTY},
                      PayloadRow{"record entry without room for its value", VT_RECORD,
                                 [] { return RecordBlock(2, 2 + 15); }, VT_EMPTY},
                      PayloadRow{"record block shorter than its header", VT_RECORD,
                                 [] { return std::vector<std::uint8_t>(17); }, VT_EMPTY},
                      PayloadRow{"string block without terminator", VT_BSTR,
                                 [] {
                                     std::vector<std::uint8_t> bytes;
                                     PutText(bytes, 0, L"abcd");
                                     bytes.resize(8);
                                     return bytes;
                                 },
                                 VT_BSTR}),
    RowName<PayloadRow>);

class MalformedNesting : public MarshallingTest {};

TEST_F(MalformedNesting, ArrayThatNamesItselfArrivesWithAnEmptyElement) {
    const std::uint32_t handle = MakeBlock(ArrayBlock(1, 1));
    ASSERT_NE(handle, 0u);
    std::vector<std::uint8_t> bytes = ArrayBlock(1, 1);
    Put<VARTYPE>(bytes, 2, VT_ARRAY | VT_VARIANT);
    Put<std::uint64_t>(bytes, 10, handle);
    std::uint32_t size = 0;
    void* block = OpenSharedMemory(handle, &size, __LINE__, "malformedblock_test");
    ASSERT_NE(block, nullptr);
    std::memcpy(block, bytes.data(), bytes.size());
    FreeSharedMemory(handle);

    CTestVariant value;
    value->vt = VT_ARRAY | VT_VARIANT;
    value->ullVal = handle;
    CMarshalHelper::UnmarshalValue(*value);
    CTestVariant element(ElementOf(*value, 0));
    EXPECT_EQ(element->vt, VT_EMPTY);
}

TEST_F(MalformedNesting, NestingPastTheLimitArrivesEmptyAndEveryBlockIsFreed) {
    constexpr int kLevels = CMarshalHelper::kMaxNesting + 4;
    VARIANT value = MakeArray({MakeString(L"innermost")});
    for (int level = 1; level < kLevels; ++level) value = MakeArray({value});
    CMarshalHelper::MarshalValue(value);
    CTestVariant arrived(value);
    CMarshalHelper::UnmarshalValue(*arrived);
    int levels = 0;
    CTestVariant current;
    VariantCopy(&*current, &*arrived);
    while (current->vt == (VT_ARRAY | VT_VARIANT)) {
        ++levels;
        VARIANT inner = ElementOf(*current, 0);
        VariantClear(&*current);
        *current = inner;
    }
    EXPECT_EQ(levels, CMarshalHelper::kMaxNesting);
    EXPECT_EQ(current->vt, VT_EMPTY);
}

}  // namespace
}  // namespace tarnwick
