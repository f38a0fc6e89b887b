// The whole road of the automation host's main job beside the library's bare raise:
//   whole road: this process plays the automation host as tarnwick-host does: it starts the
//     sample application, starts the agent in it with the window of a window-message peer,
//     lists the controls and subscribes to "Clicking" on the push button, answering "not
//     cancelled"; each timed click is BM_CLICK sent to that button, which returns once the
//     button took the click, its hook raised "Clicking" to this process, the answer came back
//     and the application handled the click;
//   bare raise: the raised-event round trip of the remoting benchmark over window messages, to
//     a peer process of this program, arranged as that benchmark arranges it.
// And where a whole-road click's time goes: the same click with nobody subscribed and with the
// agent detached, a bare message to the application's thread (WM_NULL), the application's own
// handler of a click (its two label texts, sent from here), each hooked and not, and the
// platform's subclass mechanism alone. Each round goes through the three states (subscribed,
// unsubscribed, detached, then started and subscribed again) and times what belongs to each.
// Then bulk reads: GetComboItems of a 1,000-item combo box of the application through the agent
// beside the same call on a combo box of this process, made on its own thread with the hooking
// host attached there as the agent attaches it in the application (and without it); and
// "ListControls" of the application with its window of 600 controls open, page by page, beside
// reading the same fields of those windows from this process directly.
// R, on the last line: what the hooks and the subscribed "Clicking" add to the unhooked click
// (whole road less unhooked click) over the bare raise; the line also gives the hooked click
// with nobody subscribed over the unhooked one, and the two bulk reads.
// Usage: bench_agent [--clicks N]   (one round of N of each instead of 21 of 150)
#include <windows.h>
#include <commctrl.h>
#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cstdio>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/benchclock.h"
#include "bench/benchpeers.h"
#include "bench/benchreads.h"
#include "bench/cbenchhost.h"
#include "bench/chostwindow.h"
#include "bench/cpeerprocess.h"
#include "bench/csharedview.h"
#include "demo/sampleapp/sampleapp.h"
#include "host/capplication.h"
#include "host/ccontroltable.h"
#include "peer/cwindowsmessagepeer.h"
#include "platform/vaskhookhost.h"
#include "platform/vaskreservoir.h"
#include "translatorfactory.h"
#include "Tarnwick.Virtual.Interfaces.h"

namespace tarnwick::bench {

namespace {

namespace app = tarnwick::sampleapp;

struct Plan {
    // Many short rounds: the differences of medians taken in different states of the
    // application are steadier over many states entered than over long stays in a few.
    int rounds = 21;
    int clicks = 150;      // per round and side
    int agentClicks = 30;  // clicks made through the agent, per round
    int warmUp = 100;
};
constexpr DWORD kReadyTimeoutMs = 30000;
constexpr DWORD kStartTimeoutMs = 15000;
constexpr DWORD kCloseTimeoutMs = 10000;
constexpr const wchar_t* kSubscribed = L"Clicking";

// This process as the automation host of the application, connected as tarnwick-host connects
// over window messages: the agent is started with the peer's window, to which it raises the
// events, and the peer sends its requests to the agent's window. Every "Clicking" of the
// watched control is counted and answered "not cancelled"; any other event is counted apart.
class CAgentSession {
  public:
    explicit CAgentSession(DWORD processId) : processId_(processId) {
        peer_.SetEventHandler([this](const PeerEvent& event) { return OnEvent(event); });
    }
    CAgentSession(const CAgentSession&) = delete;
    CAgentSession& operator=(const CAgentSession&) = delete;

    // Starts the agent on the application's GUI thread, again after a detach too.
    bool Connect(DWORD thread) {
        if (peer_.Window() == nullptr || StartAgent(thread, peer_.Window(), &key_) != 1) {
            return false;
        }
        const HWND agent = AgentWindow();
        peer_.SetTargetWindow(agent);
        return agent != nullptr;
    }
    // The agent's window, null once it has detached.
    HWND AgentWindow() const {
        return FindWindowExW(HWND_MESSAGE, nullptr, vask::kAgentWindowClass,
                             std::to_wstring(processId_).c_str());
    }
    // Every control, page by page.
    std::optional<host::CControlTable> ListControls() {
        std::vector<CVariantHolder> pages;
        for (LONG first = 0;; first += vask::kControlsPerPage) {
            VARIANT from;
            from.vt = VT_I4;
            from.lVal = first;
            PeerReply reply = Call(L"ListControls", {&from, 1});
            if (!Completed(reply)) return std::nullopt;
            pages.push_back(std::move(reply.Result));
            const VARIANT& page = pages.back().Get();
            if (page.vt != (VT_ARRAY | VT_VARIANT) ||
                page.parray->rgsabound[0].cElements <
                    ULONG{vask::kControlsPerPage} * vask::kControlFields) {
                break;
            }
        }
        return host::CControlTable::FromPages(pages);
    }
    // The items of a combo box of the application; how many came, or -1 when it failed.
    long ComboItems(HWND combo) {
        VARIANT window;
        window.vt = VT_I8;
        window.llVal = reinterpret_cast<LONG_PTR>(combo);
        const PeerReply reply = Call(L"GetComboItems", {&window, 1});
        const VARIANT& items = reply.Result.Get();
        if (!Completed(reply) || items.vt != (VT_ARRAY | VT_VARIANT)) return -1;
        return static_cast<long>(items.parray->rgsabound[0].cElements);
    }
    bool Watch(const host::Control& control) {
        watched_ = control.window;
        return Completed(peer_.Subscribe(ControlTarget(control), kSubscribed, kSubscribed));
    }
    bool Unwatch(const host::Control& control) {
        return Completed(peer_.Unsubscribe(ControlTarget(control), kSubscribed));
    }
    // The click that the host's "call CONTROL PerformClick" makes: the request, then "Sync",
    // which answers once the posted input was handled and its events answered.
    bool PerformClick(const host::Control& control) {
        // The request takes the arguments' payloads; what a refused one leaves is cleared.
        struct Arguments {
            VARIANT values[2];
            ~Arguments() {
                for (VARIANT& value : values) VariantClear(&value);
            }
        } arguments{};
        arguments.values[0].vt = VT_I8;
        arguments.values[0].llVal = static_cast<LONGLONG>(control.window);
        arguments.values[1].vt = VT_BSTR;
        arguments.values[1].bstrVal = SysAllocString(L"");
        return Completed(Call(L"PerformClick", arguments.values)) && Completed(Call(L"Sync"));
    }
    // Detaches the agent and waits until its window has gone.
    bool Detach() {
        if (!Completed(Call(L"Detach"))) return false;
        const ULONGLONG deadline = GetTickCount64() + kCloseTimeoutMs;
        while (AgentWindow() != nullptr) {
            if (GetTickCount64() >= deadline) return false;
            Sleep(10);
        }
        return true;
    }
    long long Clickings() const { return clickings_.load(); }
    long long OtherEvents() const { return others_.load(); }

  private:
    static bool Completed(const PeerReply& reply) {
        return reply.Arrived && reply.State == StateCompleted && reply.FailureCode == S_OK;
    }
    PeerReply Call(const wchar_t* name, std::span<VARIANT> arguments = {}) {
        return peer_.Call(Target({processId_, 0, 0, 0}), name, DISPATCH_METHOD, arguments);
    }
    PeerTarget ControlTarget(const host::Control& control) const {
        return Target({processId_, control.owner, control.translator, control.window});
    }
    PeerTarget Target(const ReturnAddressRecord& address) const {
        PeerTarget target{address, {}};
        const vask::SessionKey key = vask::MakeSessionKey(key_);
        std::memcpy(target.Key.Bytes, key.bytes, sizeof key.bytes);
        return target;
    }
    // Answered at once: the application's thread waits for the answer.
    CVariantHolder OnEvent(const PeerEvent& event) {
        if (event.SubscriptionTag == kSubscribed && event.Address.O == watched_.load()) {
            ++clickings_;
        } else {
            ++others_;
        }
        CVariantHolder answer;
        answer.Get().vt = VT_BOOL;
        answer.Get().boolVal = VARIANT_FALSE;
        return answer;
    }

    DWORD processId_;
    std::uint64_t key_ = 0;
    CWindowsMessagePeer peer_;
    std::atomic<std::uint64_t> watched_{0};
    std::atomic<long long> clickings_{0};
    std::atomic<long long> others_{0};
};

// The sample application, started from beside this executable with a title of this run.
struct SampleApplication {
    host::CApplication process;
    DWORD thread = 0;
    HWND window = nullptr;

    bool Start() {
        wchar_t self[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring path = self;
        path = path.substr(0, path.find_last_of(L'\\') + 1) + L"tarnwick_sampleapp.exe";
        const std::wstring title = Numbered(L"Tarnwick bench ");
        if (process.Start(path, {L"--title", title})) return false;
        thread = process.WaitForGuiThread(kStartTimeoutMs);
        window = FindWindowW(app::kWindowClass, title.c_str());
        return thread != 0 && window != nullptr;
    }
    std::wstring Text(int id) const {
        wchar_t text[128] = {};
        GetWindowTextW(GetDlgItem(window, id), text, static_cast<int>(std::size(text)));
        return text;
    }
    // Closes the main window; the exit code once the process ended in time.
    std::optional<DWORD> Close() {
        if (window == nullptr || process.Ended()) return process.WaitForExit(0);
        PostMessageW(std::exchange(window, nullptr), WM_CLOSE, 0, 0);
        return process.WaitForExit(kCloseTimeoutMs);
    }
    ~SampleApplication() { Close(); }
};

// What one click, raise or message does, how many of them a round times, and each round's
// microseconds per one.
struct Side {
    const char* name;
    int count;
    std::function<bool()> once;
    std::vector<double> runs;
    double Median() const { return bench::Median(runs); }
};

// One state of the application, what brings it about, and what is timed in it.
struct Phase {
    const char* name;
    std::function<bool()> enter;
    std::vector<Side*> sides;
};

// Each round goes through the states in turn and times their sides in turn; round 0 warms up
// and is not kept.
bool RunRounds(const Plan& plan, const std::vector<Phase>& phases) {
    for (int round = 0; round <= plan.rounds; ++round) {
        for (const Phase& phase : phases) {
            if (!phase.enter()) {
                std::printf("agent: the application could not be brought to \"%s\"\n", phase.name);
                return false;
            }
            if (round > 0) std::printf("round %d %s:", round, phase.name);
            for (Side* side : phase.sides) {
                const double each = TimePerCall(side->once, round > 0 ? side->count : plan.warmUp);
                if (each < 0) {
                    std::printf("\nagent: %s failed\n", side->name);
                    return false;
                }
                if (round == 0) continue;
                side->runs.push_back(each);
                std::printf("  %s %.1f us;", side->name, each);
            }
            if (round > 0) std::printf("\n");
        }
    }
    return true;
}

// What is timed in each of the three states of the application: subscribed, hooked with
// nobody subscribed, and with the agent detached (the last row on windows of this process).
struct Sides {
    Side road, raise, send, agentClick;
    Side quietClick, quietLabels;
    Side plainClick, plainSend, plainLabels, property;
    Side localPlain, localSubclassed, otherPlain, otherSubclassed;
};

// The hooking host's subclass of a window it does not classify (an application window that is
// only a control's parent): the platform's subclass mechanism and nothing else.
LRESULT CALLBACK PassingSubclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                 DWORD_PTR) {
    return DefSubclassProc(window, message, wParam, lParam);
}

constexpr const wchar_t* kLocalWindowClass = L"TarnwickBenchLocal";

// A window of the calling thread, subclassed with PassingSubclass when asked; null when it
// could not be made.
CUniqueWindow MakeLocalWindow(bool subclassed) {
    CUniqueWindow window = CreateHiddenWindow(kLocalWindowClass, &DefWindowProcW);
    if (window != nullptr && subclassed &&
        !SetWindowSubclass(window.get(), &PassingSubclass, 1, 0)) {
        window.reset();
    }
    return window;
}

// A plain and a subclassed window on a thread of their own, which serves them until it goes:
// what this thread sends them comes from another thread, as a click's message comes to the
// application's thread.
class CWindowThread {
  public:
    CWindowThread() {
        std::promise<void> made;
        std::future<void> ready = made.get_future();
        thread_ = std::thread([this, &made] { Run(made); });
        ready.wait();
    }
    CWindowThread(const CWindowThread&) = delete;
    CWindowThread& operator=(const CWindowThread&) = delete;
    ~CWindowThread() {
        PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
        thread_.join();
    }
    HWND Plain() const noexcept { return plain_; }
    HWND Subclassed() const noexcept { return subclassed_; }

  private:
    void Run(std::promise<void>& made) {
        const CUniqueWindow plain = MakeLocalWindow(false);
        const CUniqueWindow subclassed = MakeLocalWindow(true);
        plain_ = plain.get();
        subclassed_ = subclassed.get();
        threadId_ = GetCurrentThreadId();
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the queue, before the quit comes
        made.set_value();
        while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    }

    std::thread thread_;
    DWORD threadId_ = 0;
    HWND plain_ = nullptr;
    HWND subclassed_ = nullptr;
};

void PrintRow(const char* what, double microseconds, const char* whose) {
    std::printf("  %-84s %7.1f  %s\n", what, microseconds, whose);
}

// The parts of a whole-road click, each the difference of two timed figures, so that they add
// up to the road; then figures that tell the parts apart.
void PrintBreakdown(const Plan& plan, const Sides& s) {
    const double road = s.road.Median(), quiet = s.quietClick.Median();
    const double plain = s.plainClick.Median(), send = s.plainSend.Median();
    const double handler = s.plainLabels.Median() - 2 * send;
    const double hookedMessage = s.send.Median() - send;
    std::printf("\nwhere a whole-road click's time goes (us per click, medians of %d rounds):\n",
                plan.rounds);
    PrintRow("SendMessage round trip to the application's thread (WM_NULL, unhooked)", send,
             "inherent: the click's own message");
    PrintRow("the application's handler: its two labels (WM_SETTEXT x2 sent, less 2 round trips)",
             handler, "inherent: the application's");
    PrintRow("the button's own click (unhooked click less the two lines above)",
             plain - send - handler, "inherent: the control's");
    PrintRow("the hooks on the click, nobody subscribed (hooked less unhooked click)",
             quiet - plain, "hooking host's subclasses, translators");
    PrintRow("the subscribed \"Clicking\" to this process and back (road less unsubscribed)",
             road - quiet, "library: raise, transport, peer");
    PrintRow("whole road (measured)", road, "");
    std::printf("the parts' own figures (us per message or call):\n");
    PrintRow("bare remoting raise over window messages (the baseline of R)", s.raise.Median(),
             "library");
    PrintRow("the hooks on one WM_NULL to the button (hooked less unhooked SendMessage)",
             hookedMessage, "hooking host's subclass, translator");
    PrintRow("hooked messages per click that this implies (hooks on the click / on one message)",
             hookedMessage > 0 ? (quiet - plain) / hookedMessage : 0, "estimate");
    PrintRow("the hooks on the two label updates (hooked less unhooked WM_SETTEXT x2)",
             s.quietLabels.Median() - s.plainLabels.Median(),
             "hooking host's subclass, translator");
    PrintRow("one window-property read (GetPropW of the button from here)", s.property.Median(),
             "platform");
    PrintRow("a message through a SetWindowSubclass subclass, from its own thread (less plain)",
             s.localSubclassed.Median() - s.localPlain.Median(), "platform");
    PrintRow("a message through a SetWindowSubclass subclass, from another thread (less plain)",
             s.otherSubclassed.Median() - s.otherPlain.Median(), "platform");
    PrintRow("a click through the agent: PerformClick request, posted input, Sync request",
             s.agentClick.Median(), "not in R");
}

// The push button of the application as the host's commands name it ("#101"), from the
// agent's list of controls.
std::optional<host::Control> FindButton(CAgentSession& session, HWND mainWindow) {
    const std::optional<host::CControlTable> table = session.ListControls();
    const host::Control* found =
        table ? table->Find({L"#" + std::to_wstring(app::kButtonId), false}) : nullptr;
    if (found == nullptr || reinterpret_cast<HWND>(static_cast<std::uintptr_t>(found->window)) !=
                                GetDlgItem(mainWindow, app::kButtonId)) {
        return std::nullopt;
    }
    return *found;
}

// The figures are honest only if every click made while subscribed raised its one "Clicking",
// no other click raised one, and the application counted every click.
bool Tally(const CAgentSession& session, const SampleApplication& application,
           long long subscribedClicks, long long clicks) {
    const std::wstring label = application.Text(app::kClicksId);
    std::printf(
        "\n\"Clicking\" answered %lld times for %lld clicks made while subscribed; other events "
        "%lld; the application's label reads \"%ls\" after %lld clicks in all\n",
        session.Clickings(), subscribedClicks, session.OtherEvents(), label.c_str(), clicks);
    return session.Clickings() == subscribedClicks && session.OtherEvents() == 0 &&
           label == L"Clicks: " + std::to_wstring(clicks);
}

// What the clicks, messages and raises of the sides do, and the counts that Tally checks.
struct Road {
    CBenchHost& raiser;
    CAgentSession& session;
    const host::Control& button;
    HWND buttonWindow;
    HWND clicksLabel;
    HWND statusLabel;
    bool subscribed = false;
    long long clicks = 0;  // every click the application should count
    long long subscribedClicks = 0;
    int raised = 0;

    // BM_CLICK rather than the agent's PerformClick: the sent click returns only once the
    // button has taken it, with the hook's raise answered inside, so one timed message is
    // exactly one click of a hooked control and its event's round trip. PerformClick adds two
    // requests to the agent (the click, then "Sync" to learn it was handled) that are not the
    // click's road; it is timed as well, apart.
    bool Click() {
        Count();
        SendMessageW(buttonWindow, BM_CLICK, 0, 0);
        return true;
    }
    bool AgentClick() {
        Count();
        return session.PerformClick(button);
    }
    bool Raise() { return raiser.Raise(++raised); }
    // The application's own handler of a click, made from here: the same two label texts.
    bool Labels() const {
        const std::wstring count = L"Clicks: " + std::to_wstring(clicks);
        return SendMessageW(clicksLabel, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(count.c_str())) &&
               SendMessageW(statusLabel, WM_SETTEXT, 0,
                            reinterpret_cast<LPARAM>(L"Last: button clicked"));
    }
    void Count() {
        ++clicks;
        if (subscribed) ++subscribedClicks;
    }
};

std::function<bool()> SendNull(HWND window) {
    return [window] { return SendMessageW(window, WM_NULL, 0, 0), true; };
}

// The rounds through the three states, from the subscribed one; true when all was timed and
// tallied.
bool TimeRoad(const Plan& plan, Road& road, const SampleApplication& application, Sides& s) {
    // The subclass mechanism of the hooking host alone, on windows of this process.
    const CUniqueWindow localPlain = MakeLocalWindow(false);
    const CUniqueWindow localSubclassed = MakeLocalWindow(true);
    const CWindowThread other;
    if (localPlain == nullptr || localSubclassed == nullptr || other.Plain() == nullptr ||
        other.Subclassed() == nullptr) {
        std::printf("agent: could not make the local windows\n");
        return false;
    }
    const HWND button = road.buttonWindow;
    s = {{"whole road", plan.clicks, [&] { return road.Click(); }},
         {"bare raise", plan.clicks, [&] { return road.Raise(); }},
         {"WM_NULL hooked", plan.clicks, SendNull(button)},
         {"agent click", plan.agentClicks, [&] { return road.AgentClick(); }},
         {"unsubscribed click", plan.clicks, [&] { return road.Click(); }},
         {"labels hooked", plan.clicks, [&] { return road.Labels(); }},
         {"unhooked click", plan.clicks, [&] { return road.Click(); }},
         {"WM_NULL unhooked", plan.clicks, SendNull(button)},
         {"labels unhooked", plan.clicks, [&] { return road.Labels(); }},
         {"GetPropW", plan.clicks,
          [button] { return GetPropW(button, kTranslatorProperty) != nullptr; }},
         {"local plain", plan.clicks, SendNull(localPlain.get())},
         {"local subclassed", plan.clicks, SendNull(localSubclassed.get())},
         {"thread plain", plan.clicks, SendNull(other.Plain())},
         {"thread subclassed", plan.clicks, SendNull(other.Subclassed())}};
    bool attached = true;
    const std::vector<Phase> phases = {
        {"unsubscribed",
         [&] {
             attached = attached || road.session.Connect(application.thread);
             return attached;
         },
         {&s.quietClick, &s.quietLabels}},
        {"subscribed",
         [&] {
             road.subscribed = road.session.Watch(road.button);
             return road.subscribed;
         },
         {&s.send, &s.road, &s.raise, &s.agentClick}},
        {"detached",
         [&] {
             road.subscribed = !road.session.Unwatch(road.button);
             attached = road.subscribed || !road.session.Detach();
             return !attached;
         },
         {&s.plainClick, &s.plainSend, &s.plainLabels, &s.property, &s.localPlain,
          &s.localSubclassed, &s.otherPlain, &s.otherSubclassed}}};
    if (!RunRounds(plan, phases)) return false;
    if (!Tally(road.session, application, road.subscribedClicks, road.clicks)) {
        std::printf("agent: the clicks and their events do not tally\n");
        return false;
    }
    return true;
}

// Bulk reads through the agent beside the same reads made without it, in milliseconds per
// read: medians of the rounds.
struct Bulk {
    Side agentItems{"GetComboItems through the agent", 0, {}};
    Side localItems{
        "GetComboItems on its own thread, hooked as the agent hooks the application's", 0, {}};
    Side plainItems{"GetComboItems on its own thread, not hooked", 0, {}};
    Side agentList{"ListControls through the agent", 0, {}};
    Side directList{"the same fields read directly", 0, {}};
    size_t controls = 0;
};

// The fields "ListControls" gives of each child of `window`, read from this process.
bool ReadFieldsDirectly(HWND window, size_t& count) {
    struct Reading {
        size_t count = 0;
    } reading;
    EnumChildWindows(
        window,
        [](HWND child, LPARAM into) -> BOOL {
            wchar_t className[256] = {}, text[512] = {};
            GetClassNameW(child, className, 256);
            GetWindowTextW(child, text, 512);
            const bool read = GetDlgCtrlID(child) != 0 &&
                              GetAncestor(child, GA_PARENT) != nullptr &&
                              GetPropW(child, kTranslatorProperty) != nullptr;
            reinterpret_cast<Reading*>(into)->count += read ? 1 : 0;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&reading));
    count = reading.count;
    return true;
}

bool TimeBulk(const Plan& plan, CAgentSession& session, const SampleApplication& application,
              Bulk& b) {
    const std::optional<host::CControlTable> table = session.ListControls();
    const host::Control* opener =
        table ? table->Find({L"#" + std::to_wstring(app::kManyButtonId), false}) : nullptr;
    if (opener == nullptr || !session.PerformClick(*opener)) {
        std::printf("agent: the window of many controls did not open\n");
        return false;
    }
    HWND many = nullptr;
    EnumThreadWindows(
        application.thread,
        [](HWND window, LPARAM found) -> BOOL {
            wchar_t title[64] = {};
            GetWindowTextW(window, title, 64);
            if (std::wstring(title) != app::kManyTitle) return TRUE;
            *reinterpret_cast<HWND*>(found) = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&many));
    const HWND thousand = GetDlgItem(many, app::kThousandComboId);
    // The same combo box in this process: the call on the control's own thread.
    const CWindow host = CreateControlHost(L"TarnwickBenchAgentCombo");
    const HWND local = AddControl(host.get(), WC_COMBOBOXW, CBS_DROPDOWNLIST, 1);
    for (int i = 1; i <= app::kThousand; ++i) {
        const std::wstring item = L"Entry " + std::to_wstring(i);
        SendMessageW(local, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    }
    bool created = false;
    Microsoft::WRL::ComPtr<IVirtualListControl> items;
    Microsoft::WRL::ComPtr<IUnknown> translator;
    translator.Attach(
        GetTranslatorUnknown(GetCommonControlTranslator(local, &created, nullptr, nullptr)));
    if (many == nullptr || thousand == nullptr || translator == nullptr ||
        FAILED(translator->QueryInterface(__uuidof(IVirtualListControl),
                                          reinterpret_cast<void**>(items.GetAddressOf())))) {
        std::printf("agent: no combo box of %d items to read\n", app::kThousand);
        return false;
    }
    VirtualControlReference reference{static_cast<__int64>(reinterpret_cast<INT_PTR>(local))};
    bool ok = true;
    const auto localRead = [&] {
        SAFEARRAY* read = nullptr;
        ok = ok && SUCCEEDED(items->GetComboItems(&reference, &read)) && read != nullptr &&
             read->rgsabound[0].cElements == ULONG(app::kThousand);
        SafeArrayDestroy(read);
        return ok;
    };
    const int reads = std::max(1, plan.agentClicks / 3);
    for (int round = 0; round < plan.rounds && ok; ++round) {
        b.agentItems.runs.push_back(
            TimePerCall([&] { return session.ComboItems(thousand) == app::kThousand; }, reads) /
            1000);
        b.plainItems.runs.push_back(TimePerCall(localRead, reads) / 1000);
        // In the application the combo box is hooked while the agent is attached: the same
        // call there passes each of its messages through the hooking host's subclass.
        ok = ok && AttachHookHost(GetCurrentThreadId(), 1, nullptr) == 1;
        if (ok) b.localItems.runs.push_back(TimePerCall(localRead, reads) / 1000);
        ok = DetachHookHost() == 1 && ok;
        std::optional<host::CControlTable> listed;
        b.agentList.runs.push_back(
            TimePerCall([&] { return (listed = session.ListControls()).has_value(); }, 1) / 1000);
        size_t direct = 0;
        b.directList.runs.push_back(
            TimePerCall([&] { return ReadFieldsDirectly(many, direct); }, 1) / 1000);
        b.controls = listed ? listed->Controls().size() : 0;
        ok = ok && direct == static_cast<size_t>(app::kManyControls) &&
             b.controls >= static_cast<size_t>(app::kManyControls);
    }
    if (!ok) std::printf("agent: a bulk read came back short or failed\n");
    return ok;
}

int Run(const Plan& plan) {
    // The baseline, arranged as the remoting benchmark arranges its window transport.
    const std::wstring stampName = Numbered(L"Local\\TarnwickBench.AgentStamp.");
    const CSharedView stamp = CSharedView::Create(stampName, sizeof(LONGLONG));
    CBenchHost raiser;
    const CHostWindow hostWindow(raiser, nullptr);
    if (stamp.Get() == nullptr || hostWindow.Get() == nullptr) {
        std::printf("agent: could not make the host's window or mapping\n");
        return 1;
    }
    const std::uint32_t blocksBefore = GetLiveBlockCount();
    CPeerProcess remotingPeer;
    if (!remotingPeer.Start(L"window", {Hex(hostWindow.Get()), stampName}) ||
        !remotingPeer.WaitReady(kReadyTimeoutMs)) {
        std::printf("agent: the remoting peer process did not start or subscribe\n");
        return 1;
    }

    SampleApplication application;
    if (!application.Start()) {
        std::printf("agent: tarnwick_sampleapp.exe did not start or show its window\n");
        return 1;
    }
    auto session = std::make_unique<CAgentSession>(application.process.ProcessId());
    if (!session->Connect(application.thread)) {
        std::printf("agent: the agent did not start in the sample application\n");
        return 1;
    }
    const std::optional<host::Control> button = FindButton(*session, application.window);
    if (!button) {
        std::printf("agent: \"ListControls\" did not list the push button\n");
        return 1;
    }
    Road road{raiser,
              *session,
              *button,
              reinterpret_cast<HWND>(static_cast<std::uintptr_t>(button->window)),
              GetDlgItem(application.window, app::kClicksId),
              GetDlgItem(application.window, app::kStatusId)};
    Sides s;
    if (!TimeRoad(plan, road, application, s)) return 1;
    Bulk bulk;
    if (!road.session.Connect(application.thread) || !TimeBulk(plan, *session, application, bulk)) {
        return 1;
    }
    road.session.Detach();

    // The agent is detached after the last round; the application closes and the peers end.
    session.reset();
    const std::optional<DWORD> exitCode = application.Close();
    remotingPeer.Stop();
    const std::uint32_t blocksAfter = GetLiveBlockCount();
    std::printf(
        "the application exited with %s; shared-memory blocks alive: %u before the peers "
        "started, %u after they ended\n",
        exitCode ? std::to_string(*exitCode).c_str() : "nothing (it did not end)", blocksBefore,
        blocksAfter);
    if (!exitCode || blocksAfter != blocksBefore) {
        std::printf("agent: the run did not end cleanly\n");
        return 1;
    }

    PrintBreakdown(plan, s);
    std::printf("\nbulk reads (ms per read, medians of %d rounds):\n", plan.rounds);
    for (const Side* side : {&bulk.agentItems, &bulk.localItems, &bulk.plainItems, &bulk.agentList,
                             &bulk.directList}) {
        std::printf("  %-84s %7.2f\n", side->name, side->Median());
    }
    const double added = s.road.Median() - s.plainClick.Median();
    std::printf(
        "\nagent: ratio %.2f (what the hooks and a subscribed \"Clicking\" add to the unhooked "
        "click / bare remoting raise per round trip over window messages: %.1f us / %.1f us; "
        "hooked click with nobody subscribed / unhooked click: %.2f (%.1f us / %.1f us); whole "
        "road %.1f us; medians of %d rounds of %d; GetComboItems of %d items through the agent "
        "/ on the application's thread: %.2f (%.2f ms / %.2f ms; not hooked there %.2f ms); "
        "ListControls of %zu controls "
        "with the window of %d open: %.1f ms, %.2f times reading their fields directly from "
        "this process)\n",
        added / s.raise.Median(), added, s.raise.Median(),
        s.quietClick.Median() / s.plainClick.Median(), s.quietClick.Median(), s.plainClick.Median(),
        s.road.Median(), plan.rounds, plan.clicks, app::kThousand,
        bulk.agentItems.Median() / bulk.localItems.Median(), bulk.agentItems.Median(),
        bulk.localItems.Median(), bulk.plainItems.Median(), bulk.controls, app::kManyControls,
        bulk.agentList.Median(), bulk.agentList.Median() / bulk.directList.Median());
    return 0;
}

}  // namespace

}  // namespace tarnwick::bench

int main() {
    return tarnwick::bench::RunBenchmarkProgram(L"--clicks", [](std::optional<int> count) {
        tarnwick::bench::Plan plan;
        if (count) plan = {1, *count, *count, *count};
        return tarnwick::bench::Run(plan);
    });
}
