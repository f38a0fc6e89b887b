// Every block kind written and read back field by field, in real shared memory: calls,
// property gets and puts, raised events, subscriptions with their event proxy,
// and unsubscriptions; and the wire values of each kind of VARIANT.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "marshalling/fakeservice.h"
#include "marshalling/marshallingtest.h"
#include "messages/cmarshalhelper.h"
#include "messages/cmarshaller.h"
#include "messages/craiseeventmessage.h"

namespace tarnwick {
namespace {

using namespace test;
using namespace blockformat;

class Marshaller : public MarshallingTest {};

const ReturnAddressRecord kAddress{0x10, 0x2A, 0x3B, 0xFFFF};
const TargetKey kKey{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};

void Address(IInvokeMessageBase& message, const wchar_t* member) {
    message.GetMemberName() = member;
    message.GetReturnAddress() = kAddress;
    message.GetTargetKey() = kKey;
    message.GetCookie() = 0x01020304;
}

// Arguments in call order, payloads moved as a sender does before it marshals.
void AddArguments(CMethodCallMessage& message, std::vector<VARIANT> arguments) {
    message.InitArguments(static_cast<int>(arguments.size()));
    for (VARIANT& argument : arguments) {
        CMarshalHelper::MarshalValue(argument);
        message.AddArgument(&argument);
    }
}

void ExpectHeader(const std::vector<std::uint8_t>& bytes, Kind kind, const wchar_t* member,
                  int count) {
    EXPECT_EQ(At<std::uint16_t>(bytes, kMarker), 1u);
    EXPECT_EQ(At<std::uint16_t>(bytes, kKind), kind);
    EXPECT_EQ(At<Cookie>(bytes, kCookie), 0x01020304u);
    const auto address = At<ReturnAddressRecord>(bytes, kReturnAddress);
    EXPECT_EQ(address.P, kAddress.P);
    EXPECT_EQ(address.O, kAddress.O);
    for (size_t i = kZeroStart; i < kMemberName; ++i) EXPECT_EQ(bytes[i], 0) << i;
    EXPECT_EQ(TextAt(bytes, kMemberName), member);
    EXPECT_EQ(std::memcmp(bytes.data() + kTargetKey, &kKey, sizeof kKey), 0);
    EXPECT_EQ(At<std::int16_t>(bytes, kArgumentCount), count);
    for (size_t i = kReplyExceptionText1; i < kReplyResult; ++i) EXPECT_EQ(bytes[i], 0) << i;
}

void ExpectInvokeBase(IInvokeMessageBase& message, const wchar_t* member) {
    EXPECT_STREQ(message.GetMemberName(), member);
    EXPECT_EQ(message.GetReturnAddress().B, kAddress.B);
    EXPECT_EQ(message.GetReturnAddress().T, kAddress.T);
    EXPECT_EQ(std::memcmp(&message.GetTargetKey(), &kKey, sizeof kKey), 0);
    EXPECT_EQ(message.GetCookie(), 0x01020304u);
}

// Reads a block the way the service does: open, unmarshal, free.
int Unmarshal(std::uint32_t handle, IncomingMessage& message,
              IInvokeManagementService* service = nullptr) {
    const std::vector<std::uint8_t> bytes = BytesOf(handle);
    Destroy(handle);
    return CMarshaller::UnmarshalBlock(service, bytes, message);
}

void ClearArguments(CMethodCallMessage& message) {
    for (int i = 0; i < message.GetArgumentCount(); ++i) VariantClear(message.GetArgument(i));
}

TEST_F(Marshaller, MethodCallBlockReadsBackWithArgumentsInArrayOrder) {
    CMethodCallMessage sent;
    Address(sent, L"Select");
    const VARIANT real = MakeVariant(VT_R8, [](VARIANT& v) { v.dblVal = 3.5; });
    AddArguments(sent, {MakeI4(1), MakeString(L"two"), real});
    const std::uint32_t handle = CMarshaller::MarshalCall(sent);
    ASSERT_NE(handle, 0u);
    const std::vector<std::uint8_t> bytes = BytesOf(handle);
    ASSERT_EQ(bytes.size(), kMethodCallSize);
    ExpectHeader(bytes, kKindMethod, L"Select", 3);
    // Call order on the wire: a, b, c at 432, 448, 464.
    EXPECT_EQ(At<VARTYPE>(bytes, 432), VT_I4);
    EXPECT_EQ(At<VARTYPE>(bytes, 448), VT_BSTR);
    EXPECT_EQ(At<VARTYPE>(bytes, 464), VT_R8);
    EXPECT_EQ(At<double>(bytes, 472), 3.5);

    IncomingMessage incoming;
    ASSERT_EQ(Unmarshal(handle, incoming), 1);
    auto* call = std::get_if<CMethodCallMessage>(&incoming);
    ASSERT_NE(call, nullptr);
    ExpectInvokeBase(*call, L"Select");
    EXPECT_EQ(call->GetInvokeKind(), DISPATCH_METHOD);
    ASSERT_EQ(call->GetArgumentCount(), 3);
    EXPECT_EQ(call->GetArgument(0)->dblVal, 3.5) << "c, b, a in elements 0, 1, 2";
    ClearArguments(*call);
}

TEST_F(Marshaller, PropertyGetAndPutBlocks) {
    for (const bool put : {false, true}) {
        CMethodCallMessage sent;
        Address(sent, L"Text");
        sent.GetInvokeKind() = put ? DISPATCH_PROPERTYPUT : DISPATCH_PROPERTYGET;
        if (put) AddArguments(sent, {MakeString(L"new text")});
        const std::uint32_t block = CMarshaller::MarshalCall(sent);
        const std::vector<std::uint8_t> bytes = BytesOf(block);
        ASSERT_EQ(bytes.size(), kAccessorSize);
        ExpectHeader(bytes, put ? kKindPropertyPut : kKindPropertyGet, L"Text", put ? 1 : 0);
        EXPECT_EQ(At<VARTYPE>(bytes, 432), put ? VT_BSTR : VT_NULL);

        IncomingMessage incoming;
        ASSERT_EQ(Unmarshal(block, incoming), 1);
        auto* call = std::get_if<CMethodCallMessage>(&incoming);
        ASSERT_NE(call, nullptr);
        EXPECT_EQ(call->GetInvokeKind(), sent.GetInvokeKind());
        ASSERT_EQ(call->GetArgumentCount(), put ? 1 : 0);
        if (!put) continue;
        EXPECT_STREQ(call->GetArgument(0)->bstrVal, L"new text");
        ASSERT_EQ(call->GetDispParams()->cNamedArgs, 1u);
        EXPECT_EQ(call->GetDispParams()->rgdispidNamedArgs[0], DISPID_PROPERTYPUT);
        ClearArguments(*call);
    }
}

TEST_F(Marshaller, CallsTheBlockCannotHoldAreRefused) {
    CMethodCallMessage nine;
    AddArguments(nine, std::vector<VARIANT>(9, MakeI4(0)));
    EXPECT_EQ(CMarshaller::MarshalCall(nine), 0u);
    CMethodCallMessage eight;
    AddArguments(eight, std::vector<VARIANT>(8, MakeI4(0)));
    const std::uint32_t block = CMarshaller::MarshalCall(eight);
    EXPECT_NE(block, 0u);
    Destroy(block);

    CMethodCallMessage indexedPut;
    indexedPut.GetInvokeKind() = DISPATCH_PROPERTYPUT;
    AddArguments(indexedPut, {MakeI4(1), MakeI4(2)});
    EXPECT_EQ(CMarshaller::MarshalCall(indexedPut), 0u) << "a put block holds one value";
    CMethodCallMessage unknown;
    unknown.GetInvokeKind() = 3;
    EXPECT_EQ(CMarshaller::MarshalCall(unknown), 0u);
}

TEST_F(Marshaller, RaisedEventBlockHoldsTagAndArgumentsInCallOrder) {
    CRaiseEventMessage message;
    Address(message, std::wstring(100, L'm').c_str());
    message.GetSubscriptionTag() = std::wstring(100, L't').c_str();
    AddArguments(message, {MakeI4(11), MakeI4(22)});
    RaisedEventBlock block;
    block.fill(0xCC);
    ASSERT_EQ(CMarshaller::MarshalRaisedEvent(block, message), 1);
    const std::vector<std::uint8_t> bytes(block.begin(), block.end());
    ExpectHeader(bytes, kKindRaisedEvent, std::wstring(79, L'm').c_str(), 2);
    EXPECT_EQ(TextAt(bytes, kRaisedEventTag), std::wstring(79, L't'));
    EXPECT_EQ(At<LONG>(bytes, kRaisedEventArguments + 8), 11);
    EXPECT_EQ(At<LONG>(bytes, kRaisedEventArguments + 24), 22);
    EXPECT_EQ(bytes[kRaisedEventArguments + 32], 0) << "the rest of the block is zero";

    // A raised event that arrives is not this side's to handle.
    IncomingMessage incoming;
    EXPECT_EQ(CMarshaller::UnmarshalBlock(nullptr, bytes, incoming), 1);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(incoming));

    CRaiseEventMessage nine;
    AddArguments(nine, std::vector<VARIANT>(9, MakeI4(0)));
    block.fill(0xCC);
    EXPECT_EQ(CMarshaller::MarshalRaisedEvent(block, nine), 0);
    EXPECT_EQ(block[0], 0xCC) << "the block is left untouched";
}

// A block as the peer writes it: header, then the kind's part.
std::vector<std::uint8_t> PeerBlock(Kind kind, size_t size) {
    std::vector<std::uint8_t> bytes(size);
    Put<std::uint16_t>(bytes, kMarker, 1);
    Put<std::uint16_t>(bytes, kKind, kind);
    Put<Cookie>(bytes, kCookie, 0x01020304);
    Put(bytes, kReturnAddress, kAddress);
    PutText(bytes, kMemberName, L"Click");
    Put(bytes, kTargetKey, kKey);
    return bytes;
}

TEST_F(Marshaller, SubscriptionMakesOneEventProxyHeldByItsMessage) {
    std::vector<std::uint8_t> bytes = PeerBlock(kKindSubscription, 800);
    PutText(bytes, kEventName, L"TextChanged");
    PutText(bytes, kSubscriptionTag, L"tag-1");
    CFakeService service;
    IncomingMessage incoming;
    ASSERT_EQ(CMarshaller::UnmarshalBlock(&service, bytes, incoming), 1);
    auto* subscription = std::get_if<CEventSubscriptionMessage>(&incoming);
    ASSERT_NE(subscription, nullptr);
    ExpectInvokeBase(*subscription, L"Click");
    EXPECT_STREQ(subscription->GetEventName(), L"TextChanged");
    EXPECT_STREQ(subscription->GetSubscriptionTag(), L"tag-1");
    // The proxy's address, key and tag are checked end to end.
    IUnknown* held = subscription->GetEventProxy();
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(ReferencesOf(held), 1u) << "only the message holds the proxy";
}

TEST_F(Marshaller, UnsubscriptionAndUnknownOrUnmarkedBlocks) {
    std::vector<std::uint8_t> bytes = PeerBlock(kKindUnsubscription, 600);
    PutText(bytes, kEventName, L"TextChanged");
    IncomingMessage incoming;
    ASSERT_EQ(CMarshaller::UnmarshalBlock(nullptr, bytes, incoming), 1);
    auto* unsubscription = std::get_if<CEventUnsubscriptionMessage>(&incoming);
    ASSERT_NE(unsubscription, nullptr);
    ExpectInvokeBase(*unsubscription, L"Click");
    EXPECT_STREQ(unsubscription->GetEventName(), L"TextChanged");

    std::vector<std::uint8_t> invalid = PeerBlock(kKindMethod, kMethodCallSize);
    Put<std::uint16_t>(invalid, kMarker, 0);
    EXPECT_EQ(CMarshaller::UnmarshalBlock(nullptr, invalid, incoming), 0);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(incoming));
    std::vector<std::uint8_t> unknown = PeerBlock(static_cast<Kind>(3), kMethodCallSize);
    EXPECT_EQ(CMarshaller::UnmarshalBlock(nullptr, unknown, incoming), 1);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(incoming));
    EXPECT_EQ(CMarshaller::GetBlockKind(unknown), 3u);
    EXPECT_EQ(CMarshaller::GetBlockCookie(unknown), 0x01020304u);
    EXPECT_EQ(CMarshaller::GetBlockCookie(std::vector<std::uint8_t>(7)), 0u);
}

TEST_F(Marshaller, WireValuesKeepTheirBits) {
    const VARIANT real = MakeVariant(VT_R8, [](VARIANT& v) {
        v.dblVal = -0.1;
        v.wReserved1 = 0x1234;
    });
    VARIANT widened = CMarshaller::WidenWireValue(CMarshaller::MakeWireValue(real));
    EXPECT_EQ(std::memcmp(&widened, &real, 16), 0);
    EXPECT_EQ(widened.wReserved1, 0x1234);

    const VARIANT record = MakeVariant(VT_RECORD, [](VARIANT& v) {
        v.pvRecord = reinterpret_cast<void*>(std::uintptr_t{0x12345678});
        v.pRecInfo = reinterpret_cast<IRecordInfo*>(std::uintptr_t{0x9ABCDEF0});
    });
    const WireValue wire = CMarshaller::MakeWireValue(record);
    EXPECT_EQ(wire.Data, 0x9ABCDEF012345678u);
    widened = CMarshaller::WidenWireValue(wire);
    EXPECT_EQ(widened.pvRecord, record.pvRecord);
    EXPECT_EQ(widened.pRecInfo, record.pRecInfo);

    // The VARIANT's last 8 bytes are not carried; they arrive zero.
    VARIANT full;
    std::memset(&full, 0xAB, sizeof full);
    full.vt = VT_I8;
    widened = CMarshaller::WidenWireValue(CMarshaller::MakeWireValue(full));
    const auto* tail = reinterpret_cast<const std::uint8_t*>(&widened) + 16;
    EXPECT_EQ(std::vector<std::uint8_t>(tail, tail + 8), std::vector<std::uint8_t>(8, 0));
}

}  // namespace
}  // namespace tarnwick
