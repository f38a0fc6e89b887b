// Forged blocks, one known fault a row: refused or empty, no over-read, every block freed.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "marshalling/marshallingtest.h"

namespace tarnwick {
namespace {

using namespace test;
using namespace blockformat;
using Bytes = std::vector<std::uint8_t>;

class MalformedBlock : public MarshallingTest {};

Bytes CallBlock(Kind kind, std::int16_t count, size_t size) {
    Bytes bytes(size);
    Put<std::uint16_t>(bytes, kMarker, 1);
    Put<std::uint16_t>(bytes, kKind, kind);
    PutText(bytes, kMemberName, L"Member");
    Put(bytes, kArgumentCount, count);
    return bytes;
}

Bytes Unterminated(Bytes bytes, size_t from, size_t to) {
    for (size_t offset = from; offset + 1 < to; offset += 2) Put(bytes, offset, L'x');
    return bytes;
}

Bytes SubscriptionBlock(size_t size) {
    Bytes bytes = CallBlock(static_cast<Kind>(kKindSubscription), 0, size);
    PutText(bytes, kEventName, L"Click");
    return bytes;
}

Bytes With16(Bytes bytes, size_t offset, std::uint16_t value) {
    Put(bytes, offset, value);
    return bytes;
}

TEST_F(MalformedBlock, MessageIsRefusedWithoutAMessage) {
    const std::pair<const char*, Bytes> rows[] = {
        {"argument count below 0", CallBlock(kKindMethod, -1, 560)},
        {"argument count beyond the format's 8", CallBlock(kKindMethod, 9, 432 + 16 * 9)},
        {"argument count beyond the block", CallBlock(kKindMethod, 3, 448)},
        {"property get count below 0", CallBlock(kKindPropertyGet, -2, 448)},
        {"header cut short", CallBlock(kKindMethod, 0, 300)},
        {"block shorter than marker and kind", {1, 0, 1}},
        {"no marker", With16(CallBlock(kKindMethod, 0, kMethodCallSize), kMarker, 0)},
        {"unterminated member name", Unterminated(CallBlock(kKindMethod, 0, 560), 80, 240)},
        {"unterminated event name", Unterminated(SubscriptionBlock(800), 432, 752)},
        {"unterminated subscription tag", Unterminated(SubscriptionBlock(800), 752, 800)},
        {"unsubscription event name runs to the block's end",
         Unterminated(CallBlock(static_cast<Kind>(kKindUnsubscription), 0, 500), 432, 500)},
        {"unterminated return-address text",
         Unterminated(With16(Bytes(41), kKind, kKindReturnAddress), 8, 41)},
    };
    for (const auto& [fault, bytes] : rows) {
        SCOPED_TRACE(fault);
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
    EXPECT_EQ(CMarshaller::GetBlockCookie(Bytes(7)), 0u) << "too short for a cookie";
}

Bytes ArrayBlock(std::int16_t count, size_t elements) {
    Bytes bytes(2 + 16 * elements + 2);
    Put(bytes, 0, count);
    return bytes;
}

// A two-field record block whose one entry has a name of nameBytes and room after it.
Bytes RecordBlock(std::uint32_t nameBytes, size_t room) {
    Bytes bytes(18 + 4 + room);
    Put(bytes, 0, kTwoFieldRecord);
    Put<std::uint16_t>(bytes, 16, 1);
    Put(bytes, 18, nameBytes);
    return bytes;
}

TEST_F(MalformedBlock, PayloadArrivesEmptyAndIsFreed) {
    Bytes unterminated;
    PutText(unterminated, 0, L"abcd");
    unterminated.resize(8);
    const std::tuple<const char*, VARTYPE, Bytes, VARTYPE> rows[] = {
        {"array count below 0", VT_ARRAY | VT_VARIANT, ArrayBlock(-5, 2), VT_EMPTY},
        {"array count beyond its block", VT_ARRAY | VT_VARIANT, ArrayBlock(10, 2), VT_EMPTY},
        {"record entry name runs past its block", VT_RECORD, RecordBlock(1000, 40), VT_EMPTY},
        {"record entry without room for its value", VT_RECORD, RecordBlock(2, 2 + 15), VT_EMPTY},
        {"record block shorter than its header", VT_RECORD, Bytes(17), VT_EMPTY},
        {"string block without terminator", VT_BSTR, unterminated, VT_BSTR},
    };
    for (const auto& [fault, type, bytes, arrives] : rows) {
        SCOPED_TRACE(fault);
        const std::uint32_t handle = MakeBlock(bytes);
        ASSERT_NE(handle, 0u);
        CTestVariant value;
        value->vt = type;
        value->ullVal = handle;
        CMarshalHelper::UnmarshalValue(*value);
        EXPECT_EQ(value->vt, arrives);
        EXPECT_EQ(value->ullVal, 0u) << "no data from a refused payload";
        EXPECT_FALSE(IsLive(handle));
    }
}

TEST_F(MalformedBlock, ArrayThatNamesItselfArrivesWithAnEmptyElement) {
    const std::uint32_t handle = MakeBlock(ArrayBlock(1, 1));
    ASSERT_NE(handle, 0u);
    Bytes bytes = ArrayBlock(1, 1);
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

TEST_F(MalformedBlock, NestingPastTheLimitArrivesEmptyAndEveryBlockIsFreed) {
    VARIANT value = MakeArray({MakeString(L"innermost")});
    for (int level = 1; level < CMarshalHelper::kMaxNesting + 4; ++level) {
        value = MakeArray({value});
    }
    CMarshalHelper::MarshalValue(value);
    CTestVariant current(value);
    CMarshalHelper::UnmarshalValue(*current);
    int levels = 0;
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
