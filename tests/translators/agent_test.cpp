// The agent driven from another process: the sample application is started, the agent is
// started in it, and this process (or a helper process) is its automation host over the IPC
// queue: discovery, a call of each interface, refusals, events with a cancel, detach, an
// automation host that ends while subscribed, modal windows that come and go, large results,
// parties that are not the host, and what fifty sessions leave behind.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <commctrl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "demo/sampleapp/sampleapp.h"
#include "peer/clpcpeer.h"
#include "peer/cwindowsmessagepeer.h"
#include "platform/vaskhookhost.h"
#include "platform/vaskreservoir.h"
#include "support/childmode.h"
#include "support/childprocess.h"
#include "support/tempdirectory.h"

namespace tarnwick::test {
namespace {

namespace app = tarnwick::sampleapp;

// One control of the list: its window, id, class and translator identity.
struct Control {
    std::int64_t window = 0, identity = 0, ownerId = 0;
    std::wstring className, text;
};

std::wstring Describe(const VARIANT& value);

std::wstring DescribeArray(SAFEARRAY* array) {
    std::wstring text = L"[";
    for (LONG i = 0; array != nullptr && i < LONG(array->rgsabound[0].cElements); ++i) {
        VARIANT element;
        VariantInit(&element);
        SafeArrayGetElement(array, &i, &element);
        text += (i > 0 ? L", " : L"") + Describe(element);
        VariantClear(&element);
    }
    return text + L"]";
}

// A result as text: strings quoted, arrays bracketed, node handles as "node".
std::wstring Describe(const VARIANT& value) {
    switch (V_VT(&value)) {
        case VT_BSTR:
            return L"\"" + std::wstring(V_BSTR(&value) ? V_BSTR(&value) : L"") + L"\"";
        case VT_BOOL:
            return V_BOOL(&value) ? L"true" : L"false";
        case VT_I8:
            return V_I8(&value) != 0 ? L"node" : L"0";
        case VT_ARRAY | VT_VARIANT:
            return DescribeArray(V_ARRAY(&value));
        case VT_EMPTY:
            return L"done";
        default: {
            VARIANT number;
            VariantInit(&number);
            return SUCCEEDED(VariantChangeType(&number, const_cast<VARIANT*>(&value), 0, VT_I4))
                       ? std::to_wstring(V_I4(&number))
                       : L"?";
        }
    }
}

// The sample application, started for a test and closed after it.
class CSampleApp {
  public:
    CSampleApp() {
        STARTUPINFOW startup{sizeof startup};
        // From another folder: the agent finds the type library beside itself.
        wchar_t exe[MAX_PATH] = {}, folder[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, exe, MAX_PATH);
        std::wstring path = exe;
        path = path.substr(0, path.find_last_of(L'\\') + 1) + L"tarnwick_sampleapp.exe";
        GetTempPathW(MAX_PATH, folder);
        std::wstring line = L"\"" + path + L"\" --title \"Agent test\"";
        if (!CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder,
                            &startup, &process_)) {
            return;
        }
        window_ = tarnwick::test::WaitForWindow(process_.hProcess, app::kWindowClass, L"Agent test",
                                                10000);
        thread_ = GetWindowThreadProcessId(window_, nullptr);
    }
    CSampleApp(const CSampleApp&) = delete;
    CSampleApp& operator=(const CSampleApp&) = delete;
    ~CSampleApp() { Close(); }
    // Closes the application's window; its exit code (259 when it did not end in time).
    DWORD Close() {
        DWORD code = STILL_ACTIVE;
        if (process_.hProcess == nullptr) return code;
        PostMessageW(window_, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(process_.hProcess, 10000) != WAIT_OBJECT_0) {
            TerminateProcess(process_.hProcess, 1);
        }
        GetExitCodeProcess(process_.hProcess, &code);
        CloseHandle(std::exchange(process_.hProcess, nullptr));
        CloseHandle(process_.hThread);
        return code;
    }
    HWND Window() const { return window_; }
    HANDLE Handle() const { return process_.hProcess; }
    DWORD Thread() const { return thread_; }
    DWORD Process() const { return process_.dwProcessId; }
    HWND Item(int id) const { return GetDlgItem(window_, id); }
    std::wstring Text(int id) const {
        wchar_t text[128] = {};
        GetWindowTextW(Item(id), text, 128);
        return text;
    }
    // Whether the agent's window is there: it goes when the agent detaches. Bounded: the
    // application handles the detach when it next pumps.
    bool AgentRunning(bool expected) const {
        const std::wstring title = std::to_wstring(Process());
        for (int i = 0; i < 500; ++i) {
            if ((FindWindowExW(HWND_MESSAGE, nullptr, vask::kAgentWindowClass, title.c_str()) !=
                 nullptr) == expected) {
                return expected;
            }
            Sleep(10);
        }
        return !expected;
    }

  private:
    PROCESS_INFORMATION process_{};
    HWND window_ = nullptr;
    DWORD thread_ = 0;
};

// This process as the automation host of an application's agent, over window messages or the
// IPC queue.
class CAgentHost {
  public:
    CAgentHost(DWORD process, DWORD thread, bool queue = false) : process_(process) {
        if (queue) {
            auto peer = std::make_unique<CLpcPeer>(vask::AgentHostQueueName(GetCurrentProcessId()),
                                                   vask::AgentQueueName(process));
            started_ = StartAgent(thread, nullptr, &key_) == 1 && peer->Announce();
            peer_ = std::move(peer);
        } else {
            auto peer = std::make_unique<CWindowsMessagePeer>();
            started_ = StartAgent(thread, peer->Window(), &key_) == 1;
            peer->SetTargetWindow(FindWindowExW(HWND_MESSAGE, nullptr, vask::kAgentWindowClass,
                                                std::to_wstring(process).c_str()));
            peer_ = std::move(peer);
        }
        peer_->SetEventHandler([this](const PeerEvent& event) {
            const std::lock_guard lock(mutex_);
            std::wstring line = event.SubscriptionTag;
            for (const CVariantHolder& argument : event.Arguments) {
                const VARIANT& value = argument.Get();
                line += L" " + (V_VT(&value) == VT_RECORD
                                    ? std::to_wstring(*static_cast<std::int64_t*>(value.pvRecord))
                                    : Describe(value));
            }
            events_.push_back(line);
            VARIANT answer;
            V_VT(&answer) = VT_BOOL;
            V_BOOL(&answer) = cancel_ == event.SubscriptionTag ? VARIANT_TRUE : VARIANT_FALSE;
            return CVariantHolder(answer);
        });
    }
    CAgentHost(const CAgentHost&) = delete;
    CAgentHost& operator=(const CAgentHost&) = delete;
    // A host detaches before it goes, as the automation host command does.
    ~CAgentHost() {
        if (started_) Call(L"Detach");
    }
    bool Started() const { return started_; }
    void SetReplyTimeout(DWORD milliseconds) { peer_->SetReplyTimeout(milliseconds); }
    PeerReply Call(const wchar_t* name, std::vector<VARIANT> arguments = {}) {
        return peer_->Call(Target({process_, 0, 0, 0}), name, DISPATCH_METHOD, arguments);
    }
    PeerTarget Target(const ReturnAddressRecord& address) const {
        PeerTarget target{address, {}};
        const vask::SessionKey key = vask::MakeSessionKey(key_);
        std::memcpy(target.Key.Bytes, key.bytes, sizeof key.bytes);
        return target;
    }
    // An operation of the control with this id; the result described, or "failed 0x..: why".
    std::wstring Operate(int id, const wchar_t* operation, std::vector<VARIANT> arguments = {}) {
        arguments.insert(arguments.begin(), Number(Find(id).window));
        const PeerReply reply = Call(operation, arguments);
        if (reply.State == StateFailed || reply.FailureCode != S_OK) {
            wchar_t code[16];
            swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(reply.FailureCode));
            return std::wstring(L"failed ") + code + L": " + reply.FailureDetail;
        }
        return Describe(reply.Result.Get());
    }
    // Every control, page by page; the count is the number listed (ids repeat across windows).
    std::map<int, test::Control> List(size_t* count = nullptr) {
        std::map<int, test::Control> controls;
        size_t listed = 0;
        for (LONG first = 0;; first += vask::kControlsPerPage) {
            const LONG rows = ListPage(first, controls);
            listed += static_cast<size_t>(rows);
            if (rows < vask::kControlsPerPage) break;
        }
        if (count != nullptr) *count = listed;
        controls_ = controls;
        return controls;
    }
    LONG ListPage(LONG first, std::map<int, test::Control>& controls) {
        VARIANT from;
        V_VT(&from) = VT_I4;
        V_I4(&from) = first;
        PeerReply reply = Call(L"ListControls", {from});
        SAFEARRAY* fields = V_VT(&reply.Result.Get()) == (VT_ARRAY | VT_VARIANT)
                                ? V_ARRAY(&reply.Result.Get())
                                : nullptr;
        const LONG count = fields != nullptr ? LONG(fields->rgsabound[0].cElements) : 0;
        for (LONG row = 0; row + vask::kControlFields <= count; row += vask::kControlFields) {
            VARIANT v[vask::kControlFields];
            for (LONG f = 0; f < vask::kControlFields; ++f) {
                VariantInit(&v[f]);
                LONG at = row + f;
                SafeArrayGetElement(fields, &at, &v[f]);
            }
            controls[V_I4(&v[2])] = {V_I8(&v[0]), V_I8(&v[7]), V_I8(&v[8]), V_BSTR(&v[3]),
                                     V_BSTR(&v[6])};
            for (VARIANT& value : v) VariantClear(&value);
        }
        return count / vask::kControlFields;
    }
    test::Control Find(int id) {
        if (controls_.empty()) controls_ = List();
        return controls_[id];
    }
    bool Subscribe(int id, const wchar_t* event) {
        const test::Control control = Find(id);
        return peer_->Subscribe(Target({process_, std::uint64_t(control.ownerId),
                                        std::uint64_t(control.identity),
                                        std::uint64_t(control.window)}),
                                event, event)
                   .State == StateCompleted;
    }
    void CancelEvent(std::wstring name) {
        const std::lock_guard lock(mutex_);
        cancel_ = std::move(name);
    }
    std::vector<std::wstring> Events() {
        Call(L"Sync");
        const std::lock_guard lock(mutex_);
        return std::exchange(events_, {});
    }
    static VARIANT Number(std::int64_t value) {
        VARIANT variant;
        VariantInit(&variant);
        V_VT(&variant) = VT_I8;
        V_I8(&variant) = value;
        return variant;
    }
    // Initialised whole: a string too long for a block travels as a descriptor that the
    // receiver recognises only with the VARIANT's reserved words zero.
    static VARIANT String(const wchar_t* text) {
        VARIANT variant;
        VariantInit(&variant);
        V_VT(&variant) = VT_BSTR;
        V_BSTR(&variant) = SysAllocString(text);
        return variant;
    }

  private:
    DWORD process_;
    std::unique_ptr<CPeer> peer_;
    std::uint64_t key_ = 0;
    bool started_ = false;
    std::map<int, test::Control> controls_;
    std::mutex mutex_;
    std::wstring cancel_;
    std::vector<std::wstring> events_;
};

class AgentTest : public testing::TestWithParam<bool> {};

TEST_P(AgentTest, DiscoversAndDrivesEveryKindOfControlAndDetaches) {
    CSampleApp application;
    ASSERT_NE(application.Window(), nullptr) << "tarnwick_sampleapp.exe did not start";
    const std::uint32_t blocks = GetLiveBlockCount();
    CAgentHost host(application.Process(), application.Thread(), GetParam());
    ASSERT_TRUE(host.Started());
    const std::map<int, Control> controls = host.List();
    for (const int id : {app::kButtonId, app::kTwoStateId, app::kEditId, app::kComboId,
                         app::kTabId, app::kTreeId, app::kListViewId}) {
        ASSERT_TRUE(controls.contains(id)) << id;
        EXPECT_EQ(controls.at(id).window, reinterpret_cast<std::intptr_t>(application.Item(id)));
        EXPECT_NE(controls.at(id).identity, 0);
    }
    EXPECT_EQ(controls.at(app::kButtonId).text, app::kButtonText);
    EXPECT_EQ(controls.at(app::kTreeId).className, L"SysTreeView32");

    const std::wstring longKeys(40000, L'a');
    const struct {
        int id;
        const wchar_t* operation;
        std::vector<VARIANT> arguments;
        std::wstring expected;
    } calls[] = {
        {app::kButtonId, L"GetText", {}, L"\"Press me\""},
        {app::kReadOnlyId, L"GetReadOnly", {}, L"true"},
        {app::kPasswordId, L"GetPasswordChar", {}, L"42"},
        {app::kThreeStateId, L"GetCheckState", {}, L"0"},
        {app::kComboId, L"GetComboItems", {}, L"[\"Red\", \"Green\", \"Blue\", \"Yellow\"]"},
        {app::kComboId, L"GetComboItemCount", {}, L"4"},
        {app::kTabId, L"GetTabs", {}, L"[\"General\", \"Details\", \"Options\"]"},
        {app::kTreeId, L"GetChildren", {CAgentHost::Number(0)}, L"[node, node]"},
        {app::kListViewId, L"GetListViewSubItemText", {CAgentHost::Number(2)},
         L"[\"charlie.wav\", \"1.2 MB\", \"Sound\"]"},
        {app::kComboId, L"SetSelectedComboIndex", {CAgentHost::Number(2)}, L"done"},
        {app::kComboId, L"GetSelectedComboIndex", {}, L"2"},
        {app::kButtonId, L"GetBounds", {}, L"[?, ?, ?, ?]"},
        {app::kButtonId, L"NoSuchOperation", {},
         L"failed 0x80020006: no such operation: NoSuchOperation"},
        {app::kComboId, L"SetSelectedComboIndex", {},
         L"failed 0x8002000E: wrong number of arguments: SetSelectedComboIndex takes 1"},
        {app::kComboId, L"SetSelectedComboIndex", {CAgentHost::String(L"two")},
         L"failed 0x80020005: argument 1: wrong kind"},
        {app::kEditId, L"SendKeys", {CAgentHost::String(longKeys.c_str()), CAgentHost::String(L"")},
         L"failed 0x80070057: keys too long for one request: 40000 characters, at most 32767 "
         L"(from character 32768 on)"},
        {app::kComboId, L"SetSelectedComboIndex", {CAgentHost::Number(9)},
         L"failed 0x80070057: index 9 out of range (the combo box has 4 items)"},
    };
    for (const auto& call : calls) {
        std::wstring result = host.Operate(call.id, call.operation, call.arguments);
        if (call.expected == L"[?, ?, ?, ?]") {  // four integers, whatever the layout
            EXPECT_EQ(std::count(result.begin(), result.end(), L','), 3) << result;
            EXPECT_EQ(result.find(L'"'), std::wstring::npos) << result;
            continue;
        }
        EXPECT_EQ(result, call.expected) << call.operation;
    }
    EXPECT_EQ(application.Text(app::kStatusId), L"Last: combo selection 2");
    VARIANT window = CAgentHost::Number(reinterpret_cast<std::intptr_t>(application.Window()));
    EXPECT_EQ(host.Call(L"GetText", {window}).FailureCode, E_INVALIDARG);  // not a control

    EXPECT_EQ(host.Call(L"Detach").State, StateCompleted);
    EXPECT_FALSE(application.AgentRunning(false));
    EXPECT_EQ(GetLiveBlockCount(), blocks);  // every request, reply and payload freed
    SendMessageW(application.Item(app::kButtonId), BM_CLICK, 0, 0);
    EXPECT_EQ(application.Text(app::kClicksId), L"Clicks: 1");
}

INSTANTIATE_TEST_SUITE_P(Transports, AgentTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "Queue" : "WindowMessages";
                         });

TEST(AgentEventTest, EventsReachTheHostWhichCanCancelThem) {
    CSampleApp application;
    ASSERT_NE(application.Window(), nullptr);
    CAgentHost host(application.Process(), application.Thread());
    ASSERT_TRUE(host.Started());
    ASSERT_TRUE(host.Subscribe(app::kButtonId, L"Clicking"));
    ASSERT_TRUE(host.Subscribe(app::kButtonId, L"Click"));
    ASSERT_TRUE(host.Subscribe(app::kTreeId, L"NodeClicked"));
    host.CancelEvent(L"Clicking");
    host.Operate(app::kButtonId, L"PerformClick", {CAgentHost::String(L"")});
    EXPECT_EQ(host.Events(), (std::vector<std::wstring>{L"Clicking"}));
    EXPECT_EQ(application.Text(app::kClicksId), L"Clicks: 0");
    host.CancelEvent(L"");
    host.Operate(app::kButtonId, L"PerformClick", {CAgentHost::String(L"")});
    EXPECT_EQ(host.Events(), (std::vector<std::wstring>{L"Clicking", L"Click"}));
    EXPECT_EQ(application.Text(app::kClicksId), L"Clicks: 1");

    const HWND tree = application.Item(app::kTreeId);
    const auto root = SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    host.Operate(app::kTreeId, L"PerformClick", {CAgentHost::Number(root)});  // the node click
    EXPECT_EQ(host.Events(), (std::vector<std::wstring>{L"NodeClicked " + std::to_wstring(root)}));
    EXPECT_EQ(application.Close(), 0u);  // closed while the agent is attached
}

// An automation host that subscribes to "Clicking", answering cancel, says so and waits to be
// ended. Arguments: the application's process and thread, the name of the ready event.
TARNWICK_CHILD_MODE(AgentHost) {
    CAgentHost host(std::stoul(args.at(0)), std::stoul(args.at(1)));
    const HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, args.at(2).c_str());
    if (!host.Started() || ready == nullptr || !host.Subscribe(app::kButtonId, L"Clicking")) {
        return 1;
    }
    host.CancelEvent(L"Clicking");
    SetEvent(ready);
    Sleep(INFINITE);
    return 0;
}

TEST(AgentEventTest, AHostThatEndsLeavesTheApplicationUnhookedAndRunning) {
    CSampleApp application;
    ASSERT_NE(application.Window(), nullptr);
    const HWND button = application.Item(app::kButtonId);
    const std::wstring readyName = L"Tarnwick.AgentTest.Ready." + std::to_wstring(GetCurrentProcessId());
    const HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
    CChildProcess host;
    ASSERT_TRUE(host.Start(L"AgentHost", {std::to_wstring(application.Process()),
                                          std::to_wstring(application.Thread()), readyName}));
    ASSERT_EQ(WaitForSingleObject(ready, 30000), WAIT_OBJECT_0);
    CloseHandle(ready);
    EXPECT_TRUE(application.AgentRunning(true));
    TerminateProcess(host.Handle(), 9);
    EXPECT_FALSE(application.AgentRunning(false));
    SendMessageW(button, BM_CLICK, 0, 0);  // nobody to ask, nothing cancelled
    EXPECT_EQ(application.Text(app::kClicksId), L"Clicks: 1");
}

VARIANT Milliseconds(LONG value) {
    VARIANT variant;
    V_VT(&variant) = VT_I4;
    V_I4(&variant) = value;
    return variant;
}

// Dialogs and message boxes come and go on the application's thread while the session lives on:
// every request runs there, inside a modal loop too, and one that a modal window holds up is
// answered busy at once while later requests close that window.
TEST(AgentModalTest, DialogsAndMessageBoxesComeAndGoWhileTheSessionLivesOn) {
    CSampleApp application;
    ASSERT_NE(application.Window(), nullptr);
    const std::uint32_t blocks = GetLiveBlockCount();
    {
        CAgentHost host(application.Process(), application.Thread());
        ASSERT_TRUE(host.Started());
        host.Operate(app::kDialogButtonId, L"PerformClick", {CAgentHost::String(L"")});
        host.Call(L"Sync");
        ASSERT_TRUE(host.List().contains(app::kDialogEditId));
        EXPECT_EQ(host.Operate(app::kDialogEditId, L"SetText", {CAgentHost::String(L"Ada")}),
                  L"done");
        EXPECT_EQ(host.Operate(IDOK, L"PerformClick", {CAgentHost::String(L"")}), L"false");
        host.Call(L"Sync");
        EXPECT_EQ(application.Text(app::kTypedId), L"Typed: Ada");
        EXPECT_FALSE(host.List().contains(app::kDialogEditId));

        EXPECT_EQ(host.Call(L"SetOperationBound", {Milliseconds(300)}).State, StateCompleted);
        EXPECT_EQ(host.Operate(app::kAlertComboId, L"SetSelectedComboIndex",
                               {CAgentHost::Number(1)}),
                  L"failed 0x800700AA: busy");
        ASSERT_TRUE(host.List().contains(IDOK));  // the message box's button
        EXPECT_EQ(host.Operate(IDOK, L"PerformClick", {CAgentHost::String(L"")}), L"false");
        host.Call(L"Sync");
        EXPECT_EQ(application.Text(app::kStatusId), L"Last: alert 1 acknowledged");

        EXPECT_EQ(host.Operate(app::kEditId, L"Focus"), L"done");
        EXPECT_EQ(host.Operate(app::kEditId, L"GetFocused"), L"true");

        // A host that gives up before the agent's bound: the late reply is freed on this side.
        host.SetReplyTimeout(50);
        EXPECT_FALSE(host.Call(L"SetSelectedComboIndex",
                               {CAgentHost::Number(host.Find(app::kAlertComboId).window),
                                CAgentHost::Number(2)})
                         .Arrived);
        host.SetReplyTimeout(10000);
        ASSERT_TRUE(host.List().contains(IDOK));
        host.Operate(IDOK, L"PerformClick", {CAgentHost::String(L"")});
        host.Call(L"Sync");
        EXPECT_EQ(application.Text(app::kStatusId), L"Last: alert 2 acknowledged");
    }
    EXPECT_FALSE(application.AgentRunning(false));
    EXPECT_EQ(GetLiveBlockCount(), blocks);  // the held request's late result included
}

// A window of 600 controls lists whole, page by page, and an array too large for one reply
// fails with an error that names the limit instead of arriving empty.
TEST(AgentModalTest, LargeResultsComeWholeOrFailNamingTheLimit) {
    CSampleApp application;
    ASSERT_NE(application.Window(), nullptr);
    CAgentHost host(application.Process(), application.Thread());
    ASSERT_TRUE(host.Started());
    size_t before = 0, after = 0;
    host.List(&before);
    host.Operate(app::kManyButtonId, L"PerformClick", {CAgentHost::String(L"")});
    host.Call(L"Sync");
    host.List(&after);
    EXPECT_EQ(after, before + app::kManyControls);
    const std::wstring items = host.Operate(app::kThousandComboId, L"GetComboItems");
    EXPECT_EQ(std::count(items.begin(), items.end(), L','), app::kThousand - 1);
    const PeerReply reply = host.Call(
        L"GetComboItems", {CAgentHost::Number(host.Find(app::kFiveThousandComboId).window)});
    EXPECT_EQ(reply.FailureCode, vask::kAgentResultTooLarge);
    EXPECT_NE(reply.FailureDetail.find(L"5000"), std::wstring::npos) << reply.FailureDetail;
    EXPECT_NE(reply.FailureDetail.find(L"4095"), std::wstring::npos) << reply.FailureDetail;
}

// Answers StartAgent for the application's GUI thread (the argument) from another process.
TARNWICK_CHILD_MODE(StartAgentElsewhere) {
    std::uint64_t key = 0;
    return StartAgent(std::stoul(args.at(0)), nullptr, &key);
}

// Only the attached host drives the agent: no other process starts a session of its own, a
// return address naming another queue is refused (the host's replies still reach it), and so
// is a request without the session's key, Detach included.
TEST(AgentModalTest, OnlyTheAttachedHostDrivesTheAgent) {
    CSampleApp application;
    ASSERT_NE(application.Window(), nullptr);
    {
        CAgentHost host(application.Process(), application.Thread(), true);
        ASSERT_TRUE(host.Started());
        CChildProcess other;
        ASSERT_TRUE(other.Start(L"StartAgentElsewhere", {std::to_wstring(application.Thread())}));
        EXPECT_EQ(other.Wait().value_or(99), 0u);
        CLpcPeer intruder(L"Tarnwick.AgentTest.Intruder", vask::AgentQueueName(application.Process()));
        ASSERT_TRUE(intruder.Announce());
        EXPECT_EQ(host.Operate(app::kButtonId, L"GetText"), L"\"Press me\"");
    }
    CAgentHost host(application.Process(), application.Thread());
    ASSERT_TRUE(host.Started());
    CWindowsMessagePeer stranger;
    stranger.SetTargetWindow(FindWindowExW(HWND_MESSAGE, nullptr, vask::kAgentWindowClass,
                                           std::to_wstring(application.Process()).c_str()));
    const PeerTarget keyless{{application.Process(), 0, 0, 0}, {}};
    EXPECT_EQ(stranger.Call(keyless, L"Detach", DISPATCH_METHOD).FailureCode, E_ACCESSDENIED);
    // Work messages with made-up pointers, posted to each of the application's message-only
    // windows, are refused, not followed.
    for (HWND window = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); window != nullptr;
         window = FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr)) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == application.Process()) PostMessageW(window, WM_APP + 0x44, 0, 0x5EED0000);
    }
    EXPECT_EQ(host.Operate(app::kButtonId, L"GetText"), L"\"Press me\"");
}

// Fifty sessions of attach, a few requests and detach, over both transports, leave the
// application's handle count and the live blocks where the first sessions left them.
TEST(AgentModalTest, SessionsLeaveNoHandlesOrBlocksBehind) {
    CSampleApp application;
    ASSERT_NE(application.Window(), nullptr);
    const auto session = [&](bool queue) {
        CAgentHost host(application.Process(), application.Thread(), queue);
        ASSERT_TRUE(host.Started());
        EXPECT_EQ(host.Operate(app::kButtonId, L"GetText"), L"\"Press me\"");
        EXPECT_EQ(host.Events().size(), 0u);
    };
    // The platform here does not count another process's handles: each handle value is
    // probed by duplicating it.
    const auto handles = [&] {
        DWORD count = 0;
        for (std::uintptr_t value = 4; value < 0x4000; value += 4) {
            HANDLE copy = nullptr;
            if (DuplicateHandle(application.Handle(), reinterpret_cast<HANDLE>(value),
                                GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
                CloseHandle(copy);
                ++count;
            }
        }
        return count;
    };
    session(false);
    session(true);  // what serves every later session is made once: windows, services, queue
    ASSERT_FALSE(application.AgentRunning(false));
    const DWORD handlesBefore = handles();
    ASSERT_GT(handlesBefore, 0u);
    const std::uint32_t blocks = GetLiveBlockCount();
    for (int i = 0; i < 50; ++i) session(i % 2 == 1);
    EXPECT_FALSE(application.AgentRunning(false));
    // A session's threads end just after its window: bounded wait for their handles to go.
    for (int i = 0; i < 200 && handles() != handlesBefore; ++i) Sleep(10);
    EXPECT_EQ(handles(), handlesBefore);
    EXPECT_EQ(GetLiveBlockCount(), blocks);
}

// Runs tarnwick-host with a command line; its exit code and what it wrote to both streams.
std::pair<DWORD, std::string> RunHostCommand(const std::wstring& arguments) {
    const CTempDirectory folder;
    const std::wstring outputPath = folder / L"output.txt";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE output = CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                      CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW startup{sizeof startup};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = output;
    const std::wstring exe = ExecutableDirectory() + L"\\tarnwick-host.exe";
    std::wstring line = L"\"" + exe + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    DWORD code = STILL_ACTIVE;
    if (CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &process)) {
        if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
            TerminateProcess(process.hProcess, STILL_ACTIVE);
        }
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(output);
    std::ifstream file(std::filesystem::path(outputPath), std::ios::binary);
    return {code, std::string(std::istreambuf_iterator<char>(file), {})};
}

// Each refusal is one line on standard error with exit code 1 (2 for a command line that
// cannot run), the application runs on, and the agent is gone from it after every run. A
// case may name a line that the output holds besides its last.
TEST(HostCommandTest, RefusesWithOneLineAndAnExitCodeAndLeavesTheApplicationRunning) {
    CSampleApp application;
    ASSERT_NE(application.Window(), nullptr);
    const std::wstring attach = L"attach " + std::to_wstring(application.Process()) + L" + ";
    const CTempDirectory pictures;
    const std::wstring control = pictures / L"control.png", window = pictures / L"window.png";
    const std::wstring missing = pictures / L"no such folder\\a.png";
    const std::string windowShown(window.begin(), window.end()), missingShown(missing.begin(), missing.end());
    const struct {
        std::wstring arguments;
        DWORD code;
        std::string error;
        std::string shown = {};
    } cases[] = {
        {L"frobnicate", 2, "unknown command \"frobnicate\" (tarnwick-host --help lists the commands)"},
        {L"get #108", 2, "usage: get CONTROL PROPERTY (tarnwick-host --help lists the commands)"},
        {L"list + list --handles -> x", 2, "list takes no expected result (\"->\") (tarnwick-host --help lists the commands)"},
        {L"--timeout 0 list", 2, "--timeout takes seconds from 1 to 3600, not 0 (tarnwick-host --help lists the commands)"},
        {L"get #108 Text", 1, "get: not attached to an application"},
        {L"attach 4000000000", 1, "no process 4000000000"},
        {attach + L"get Nothing[0] Text", 1, "no such control: Nothing[0]"},
        {attach + L"call #101 Fly", 1, "no such operation: Fly"},
        {attach + L"set #103 Checked \"maybe\"", 1, "wrong argument kind for SetChecked (argument 1: wrong kind)"},
        {attach + L"call #114 GetNodeText node:Plants/Weeds", 1,
         "no such node: Plants/Weeds (in SysTreeView32[0])"},
        {attach + L"call #114 GetNodeText 12345", 1,
         "GetNodeText: argument 1: 0x3039 is no node of this tree now (deleted, or never one)"},
        {attach + L"call #108 GetNodeText node:Plants", 1,
         "node:Plants: Edit[0] is not a tree view"},
        {attach + L"get #110 ReadOnly -> false", 1, "get Edit[2] ReadOnly: expected false, got true"},
        {attach + L"text #102 -> \"Clicks: 0\"", 0, "text #102 -> \"Clicks: 0\""},
        {L"attach --running tarnwick_sampleapp + windows", 0, "\"Agent test\"  Tarnwick.SampleApp"},
        {L"attach --running nosuchapp.exe", 1, "no running nosuchapp.exe"},
        {L"attach --title \"agent TEST\" + window test + get \"PRESS me\" Text -> \"Press me\"", 0,
         "get Button[0] Text -> \"Press me\"", "window \"test\" -> \"Agent test\""},
        {L"attach --title Nothing", 1, "no visible window whose title contains \"Nothing\""},
        {attach + L"window Nothing", 1, "no window whose title contains \"Nothing\" (its windows: \"Agent test\")"},
        {attach + L"window Agent + get Nothing[0] Text", 1, "no such control: Nothing[0] (in window \"Agent test\")"},
        {attach + L"wait-window agent 1 + wait #108 1 + wait-closed Nothing 1", 0,
         "wait-closed \"Nothing\" -> done", "wait #108 -> Edit[0]"},
        {attach + L"wait-window Nothing 1", 1,
         "wait-window: no window whose title contains \"Nothing\" after 1 s (its windows: \"Agent test\")"},
        {attach + L"wait-closed agent 1", 1, "wait-closed: still open after 1 s: \"Agent test\""},
        {attach + L"wait #999 1", 1, "wait: no control #999 after 1 s"},
        {attach + L"set #109 Visible false + list --all + wait #109 1", 1, "wait: Edit[1] is still hidden after 1 s",
         "  Edit[1]             Edit             #109    TextBox      \"\"  (hidden)"},
        {attach + L"call #109 PerformClick \"\"", 1, "PerformClick: not clicked: it is hidden"},
        {attach + L"menu --list", 0, "    Exit", "    Show clicks  (checked)"},
        {attach + L"menu \"file/SHOW &clicks\" + menu --list + menu \"File/Show clicks\" + menu File/Greet", 1,
         "menu \"File/Greet\": item \"Greet\" in menu \"File\" is disabled", "    Show clicks"},
        {attach + L"menu File/Nope", 1,
         "menu \"File/Nope\": no item \"Nope\" in menu \"File\" (its items: Name..., Show clicks, Greet, Exit)"},
        {attach + L"menu File", 1,
         "menu \"File\": item \"File\" in the menu bar is a submenu: name one of its items after it"},
        {attach + L"menu File/Exit/Now", 1,
         "menu \"File/Exit/Now\": item \"Exit\" in menu \"File\" is a command, not a submenu"},
        {attach + L"menu &file/NAME... + wait-window name + window + call #101 PerformClick \"\"", 1,
         "PerformClick: not clicked: its window \"Agent test\" is disabled while \"Enter a name\" is open",
         "menu \"&file/NAME...\" -> done"},
        {attach + L"menu File/Exit", 1,
         "menu \"File/Exit\": no menu command: the window \"Agent test\" is disabled while \"Enter a name\" is open"},
        {attach + L"window name + menu --list", 1, "menu --list: the window \"Enter a name\" has no menu bar"},
        {attach + L"set #201 Text Ada + call OK PerformClick \"\" + wait-closed name + menu File/Greet + text #116", 0,
         "text #116 -> \"Last: hello Ada\"", "wait-closed \"name\" -> done"},
        {attach + L"list --all", 0, "  Button[7]           Button           #120    Button       \"Many controls\"",
         "  -                   ListBox          #112    -            \"\""},
        {attach + L"set #108 Text true + get #108 Text -> true + set #108 Text 007 + get #108 Text -> \"007\"", 0,
         "get Edit[0] Text -> \"007\""},
        {attach + L"set #104 CheckState true", 1, "wrong argument kind for SetCheckState (argument 1: wrong kind)"},
        {attach + L"members #115 + echo end", 0, "end",
         "events: ItemClicked, ItemDoubleClicked, ItemsActivated, ListContentsChanged, Click, "
         "Clicking, DoubleClick, DoubleClicking, RightClick, RightClicking, MouseDown, MouseUp, "
         "KeyDown, KeyUp, KeyPress, GotFocus, LostFocus, TextChanged, EnabledChanged, Shown, "
         "Hidden, VisibleChanged"},
        {attach + L"watch #103 CheckedChanged Clickd", 1,
         "watch Button[1] Clickd: CheckBox raises no event \"Clickd\" (its events: "
         "CheckedChanged, CheckStateChanged, Click, Clicking, DoubleClick, DoubleClicking, "
         "RightClick, RightClicking, MouseDown, MouseUp, KeyDown, KeyUp, KeyPress, GotFocus, "
         "LostFocus, TextChanged, EnabledChanged, Shown, Hidden, VisibleChanged)"},
        {attach + L"call #108 SendKeys ab{ENTR} \"\"", 1,
         "SendKeys: bad key syntax at character 3: no key is named {ENTR}"},
        {attach + L"call #111 SetSelectedComboIndex 5", 1,
         "SetSelectedComboIndex: index 5 out of range (the combo box has 4 items)"},
        {attach + L"list + set #108 Text zebra + get ZEBRA Text -> zebra", 0, "get Edit[0] Text -> \"zebra\""},
        {attach + L"picture \"" + control + L"\" #115 + picture \"" + window + L"\" --window agent", 0,
         "picture " + windowShown + " --window \"Agent test\" -> true", " SysListView32[0] -> true"},
        {attach + L"picture \"" + missing + L"\" #115", 1, "the picture could not be saved to " + missingShown},
        {attach + L"picture x.png --window Nothing", 1, "no window whose title contains \"Nothing\" (its windows: \"Agent test\")"},
        {L"picture x.png --windows agent", 2,
         "usage: picture PATH [CONTROL | --window TEXT] (tarnwick-host --help lists the commands)"},
        {L"wait-closed x 1s", 2, "wait-closed takes a number of seconds, not 1s (tarnwick-host --help lists the commands)"},
    };
    for (const auto& [arguments, code, error, shown] : cases) {
        SCOPED_TRACE(testing::Message() << std::string(arguments.begin(), arguments.end()));
        const auto [exitCode, output] = RunHostCommand(arguments);
        EXPECT_EQ(exitCode, code);
        // A refusal is the last line, and the only one on standard error.
        const std::string last = code == 0 ? error : "tarnwick-host: error: " + error;
        EXPECT_TRUE(output.ends_with(last + "\n")) << output;
        EXPECT_EQ(output.find("error:"), code == 0 ? std::string::npos : output.rfind("error:"));
        EXPECT_NE(output.find(shown + "\n"), std::string::npos) << output;
        EXPECT_FALSE(application.AgentRunning(false));
    }
    for (const std::wstring& picture : {control, window}) {
        EXPECT_LT(std::filesystem::file_size(picture), 100'000u);
    }
    EXPECT_EQ(SendMessageTimeoutW(application.Window(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000,
                                  nullptr) != 0,
              true);
    EXPECT_EQ(application.Close(), 0u);
}

// A window titled args[0] with a group box and a "&Quit" button that ends the process, kept
// disabled by the window "Other" that it owns, as by a modal dialog, until the button of
// "Other" closes it; sets the event args[1] once both are there.
TARNWICK_CHILD_MODE(QuitWindow) {
    WNDCLASSW type{};
    type.lpfnWndProc = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        const HWND owner = GetWindow(window, GW_OWNER);
        if (message == WM_COMMAND && LOWORD(wParam) == IDOK) EnableWindow(owner, TRUE);
        if (message == WM_COMMAND) DestroyWindow(window);
        if (message == WM_DESTROY && owner == nullptr) PostQuitMessage(0);
        return DefWindowProcW(window, message, wParam, lParam);
    };
    type.lpszClassName = L"Tarnwick.QuitWindow";
    RegisterClassW(&type);
    const HWND top = CreateWindowExW(0, type.lpszClassName, args.at(0).c_str(),
                                     WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200, nullptr,
                                     nullptr, nullptr, nullptr);
    CreateWindowExW(0, L"Button", L"Options", WS_CHILD | WS_VISIBLE | BS_GROUPBOX, 4, 4, 200, 90,
                    top, nullptr, nullptr, nullptr);
    CreateWindowExW(0, L"Button", L"&Quit", WS_CHILD | WS_VISIBLE, 4, 100, 80, 24, top,
                    reinterpret_cast<HMENU>(IDCANCEL), nullptr, nullptr);
    const HWND other = CreateWindowExW(0, type.lpszClassName, L"Other", WS_POPUP | WS_VISIBLE, 0,
                                       0, 100, 50, top, nullptr, nullptr, nullptr);
    CreateWindowExW(0, L"Button", L"Other", WS_CHILD | WS_VISIBLE, 0, 0, 80, 24, other,
                    reinterpret_cast<HMENU>(IDOK), nullptr, nullptr);
    EnableWindow(top, FALSE);
    const HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, args.at(1).c_str());
    SetEvent(ready);
    CloseHandle(ready);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return 0;
}

// Windows, a scope and a group box; no click in a window that a modal window disables; a click
// after which the application ended is done, and the commands after it are refused.
TEST(HostCommandTest, WindowsScopesAndADrivingCommandThatEndsTheApplication) {
    const std::wstring readyName = L"Tarnwick.QuitWindow." + std::to_wstring(GetCurrentProcessId());
    const HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
    CChildProcess application;
    ASSERT_TRUE(application.Start(L"QuitWindow", {L"Quit test", readyName}));
    EXPECT_EQ(WaitForSingleObject(ready, 30000), WAIT_OBJECT_0);
    CloseHandle(ready);
    const auto [code, output] = RunHostCommand(
        L"attach --title \"quit TEST\" + windows + list + window other + get Button[0] Text -> Other "
        L"+ call Button[0] PerformClick \"\" + wait-closed Other + call quit PerformClick \"\" "
        L"+ get quit Text");
    EXPECT_EQ(code, 1u);
    for (const char* line : {"\"Other\"      Tarnwick.QuitWindow  modal\n",
                             "\"Quit test\"  Tarnwick.QuitWindow  disabled\n",
                             "  Button[0]  Button  #0      GroupBox  \"Options\"\n",
                             "  Button[2]  Button  #1      Button    \"Other\"\n",
                             "call Button[1] PerformClick \"\" -> done (the application ended)\n"}) {
        EXPECT_NE(output.find(line), std::string::npos) << line << output;
    }
    EXPECT_TRUE(output.ends_with("tarnwick-host: error: get: the application has ended\n"));
    EXPECT_EQ(application.Wait(10000), 0u);
}

}  // namespace
}  // namespace tarnwick::test
