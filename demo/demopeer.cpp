// The demo's peer process: the automation host's side. Over one transport (an IPC queue or
// window messages) it subscribes to the target's button, answers the Click events that the
// target raises, unsubscribes, and calls the button's members, printing what it sends and
// what comes back.
// Usage: tarnwick_demo_peer.exe queue|window SESSION
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <iterator>
#include <string>

#include "cdemosession.h"
#include "ctranscript.h"
#include "cvariants.h"
#include "peer/clpcpeer.h"
#include "peer/cwindowsmessagepeer.h"

namespace tarnwick::demo {
namespace {

constexpr const wchar_t* kTag = L"demo";
constexpr HRESULT kFileNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

bool IsCompleted(const PeerReply& reply) { return reply.Arrived && reply.State == StateCompleted; }

bool IsI4(const PeerReply& reply, LONG value) {
    const VARIANT& result = reply.Result.Get();
    return IsCompleted(reply) && result.vt == VT_I4 && result.lVal == value;
}

bool IsString(const PeerReply& reply, const wchar_t* text) {
    const VARIANT& result = reply.Result.Get();
    return IsCompleted(reply) && result.vt == VT_BSTR && result.bstrVal != nullptr &&
           std::wstring(result.bstrVal) == text;
}

bool FailedWithCode(const PeerReply& reply, HRESULT code) {
    return reply.Arrived && reply.State == StateFailedCode && reply.FailureCode == code;
}

// A completed request without a result (a put, a subscription) comes back empty, void or
// with the null interface pointer that a message starts with.
bool HasValue(const VARIANT& result) {
    return result.vt != VT_EMPTY && result.vt != VT_VOID &&
           !(result.vt == VT_UNKNOWN && result.punkVal == nullptr);
}

// What came back, as the transcript shows it.
std::wstring Outcome(const PeerReply& reply) {
    if (!reply.Arrived) return L"no reply";
    wchar_t code[16] = {};
    switch (reply.State) {
        case StateCompleted:
            return HasValue(reply.Result.Get()) ? CTranscript::Value(reply.Result.Get())
                                                : L"completed";
        case StateException:
            return L"exception \"" + reply.ExceptionText1 + L"\", \"" + reply.ExceptionText2 +
                   L"\", \"" + reply.ExceptionText3 + L"\"";
        case StateFailed:
            return L"failed: " + reply.FailureDetail;
        case StateFailedCode:
            std::swprintf(code, std::size(code), L"0x%08lX",
                          static_cast<unsigned long>(reply.FailureCode));
            return std::wstring(L"failed with code ") + code +
                   (reply.FailureDetail.empty() ? L"" : L" (" + reply.FailureDetail + L")");
        default:
            return L"state " + std::to_wstring(reply.State);
    }
}

// Cancels the first Click and lets every later one through.
CPeer::EventHandler ClickAnswerer(CTranscript& out, std::atomic<int>& clicks) {
    return [&out, &clicks](const PeerEvent& event) {
        const bool cancel = ++clicks == 1;
        std::wstring arguments;
        for (const CVariantHolder& argument : event.Arguments) {
            if (!arguments.empty()) arguments += L", ";
            arguments += CTranscript::Value(argument.Get());
        }
        out.Expect(event.MemberName == kClickEvent && event.SubscriptionTag == kTag &&
                       event.Arguments.size() == 2,
                   L"event %ls(%ls), tag \"%ls\" -> answers %ls", event.MemberName.c_str(),
                   arguments.c_str(), event.SubscriptionTag.c_str(),
                   cancel ? L"true: cancel" : L"false: go ahead");
        VARIANT answer = MakeBool(cancel);
        return CVariantHolder(answer);
    };
}

void MakeCalls(CPeer& peer, const PeerTarget& button, CTranscript& out) {
    CVariants<2> add;
    add.values[0] = MakeI4(2);
    add.values[1] = MakeI4(3);
    PeerReply reply = peer.Call(button, L"Add", DISPATCH_METHOD, add.values);
    out.Expect(IsI4(reply, 5), L"call Add(2, 3) -> %ls", Outcome(reply).c_str());
    reply = peer.Call(button, L"Caption", DISPATCH_PROPERTYGET);
    out.Expect(IsString(reply, L"OK"), L"get Caption -> %ls", Outcome(reply).c_str());
    CVariants<1> caption;
    caption.values[0] = MakeString(L"Apply");
    reply = peer.Call(button, L"Caption", DISPATCH_PROPERTYPUT, caption.values);
    out.Expect(IsCompleted(reply), L"put Caption = \"Apply\": %ls", Outcome(reply).c_str());
    reply = peer.Call(button, L"Caption", DISPATCH_PROPERTYGET);
    out.Expect(IsString(reply, L"Apply"), L"get Caption -> %ls", Outcome(reply).c_str());
    CVariants<2> divide;
    divide.values[0] = MakeI4(1);
    divide.values[1] = MakeI4(0);
    reply = peer.Call(button, L"Divide", DISPATCH_METHOD, divide.values);
    out.Expect(reply.Arrived && reply.State == StateException &&
                   reply.ExceptionText2 == L"Division by zero",
               L"call Divide(1, 0) -> %ls", Outcome(reply).c_str());
    CVariants<2> wrong;
    wrong.values[0] = MakeString(L"two");
    wrong.values[1] = MakeI4(3);
    reply = peer.Call(button, L"Add", DISPATCH_METHOD, wrong.values);
    out.Expect(FailedWithCode(reply, DISP_E_TYPEMISMATCH), L"call Add(\"two\", 3) -> %ls",
               Outcome(reply).c_str());
    CVariants<1> file;
    file.values[0] = MakeString(L"missing.txt");
    reply = peer.Call(button, L"Open", DISPATCH_METHOD, file.values);
    out.Expect(FailedWithCode(reply, kFileNotFound), L"call Open(\"missing.txt\") -> %ls",
               Outcome(reply).c_str());
}

// The peer's turns, after the transport is up: subscribe, let the target raise, unsubscribe,
// let it raise again, make the calls.
void RunSession(CPeer& peer, const CDemoSession& session, CTranscript& out) {
    std::atomic<int> clicks{0};
    peer.SetEventHandler(ClickAnswerer(out, clicks));
    const PeerTarget button{kButtonAddress, {}};
    PeerReply reply = peer.Subscribe(button, kClickEvent, kTag);
    out.Expect(IsCompleted(reply), L"subscribe Click: %ls", Outcome(reply).c_str());
    session.Pass();
    if (!out.Check(session.Await(false), L"the target did not hand the turn back")) return;
    out.Check(clicks == 2, L"two Click events should have arrived, not %d", clicks.load());
    reply = peer.Unsubscribe(button, kClickEvent);
    out.Expect(IsCompleted(reply), L"unsubscribe Click: %ls", Outcome(reply).c_str());
    session.Pass();
    if (!out.Check(session.Await(false), L"the target did not hand the turn back")) return;
    out.Check(clicks == 2, L"no Click should have arrived once unsubscribed");
    MakeCalls(peer, button, out);
    out.Check(peer.RecordsRefused() == 0, L"%d record(s) from the target refused",
              peer.RecordsRefused());
    out.Line(L"done: %d event(s) answered", peer.EventsAnswered());
    session.Pass();
}

void OverQueue(const CDemoSession& session, CTranscript& out) {
    if (!out.Check(session.Await(false), L"the target's queue did not come up")) return;
    CLpcPeer peer(session.Name(L"TwP"), session.Name(L"TwT"));
    if (!out.Check(peer.Created(), L"no queue %ls", peer.OwnQueue().c_str())) return;
    if (!out.Check(peer.Announce(), L"the return address could not be posted")) return;
    out.Line(L"its own queue announced to the target");
    RunSession(peer, session, out);
}

// This side's window comes first, for the target to make its service for; then the target's
// window, which the requests go to.
void OverWindowMessages(const CDemoSession& session, CTranscript& out) {
    CWindowsMessagePeer peer;
    if (!out.Check(peer.Window() != nullptr, L"no window of its own")) return;
    SetWindowTextW(peer.Window(), session.WindowTitle(Role::Peer).c_str());
    session.Pass();
    if (!out.Check(session.Await(false), L"the target's window did not come up")) return;
    const HWND target = FindWindowW(nullptr, session.WindowTitle(Role::Target).c_str());
    if (!out.Check(target != nullptr, L"the target's window was not found")) return;
    peer.SetTargetWindow(target);
    out.Line(L"sending window messages to the target's window");
    RunSession(peer, session, out);
}

void Drive(const std::wstring& transport, const CDemoSession& session, CTranscript& out) {
    if (transport == kQueueTransport) {
        OverQueue(session, out);
    } else {
        OverWindowMessages(session, out);
    }
}

}  // namespace
}  // namespace tarnwick::demo

int main() {
    return tarnwick::demo::RunSessionSide(tarnwick::demo::Role::Peer, &tarnwick::demo::Drive);
}
