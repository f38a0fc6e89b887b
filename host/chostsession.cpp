#include "chostsession.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <iterator>

#include "ccontrollisting.h"
#include "cprocesslist.h"
#include "cvaluetext.h"
#include "cwindowfinder.h"
#include "itypelibresolutionservice.h"
#include "peer/clpcpeer.h"
#include "peer/cwindowsmessagepeer.h"
#include "platform/vaskhookhost.h"
#include "platform/vaskreservoir.h"
#include "virtualrecords.h"

namespace tarnwick::host {
namespace {

constexpr DWORD kStartTimeoutMs = 15000;
constexpr DWORD kDetachTimeoutMs = 2000;
constexpr size_t kMaxCallArguments = 8;
constexpr DWORD kAnswerTimeoutMs = 5000;
// How long an application that closed its last window, or stopped answering during a driving
// command, is given to end.
constexpr DWORD kEndGraceMs = 3000;
constexpr DWORD kWaitExitSeconds = 30;
constexpr wchar_t kNodePrefix[] = L"node:";
constexpr wchar_t kTreeKind[] = L"TreeView";

using Handler = void (CHostSession::*)(const Command&);

std::wstring HResultText(HRESULT code) {
    wchar_t text[16] = {};
    std::swprintf(text, std::size(text), L"0x%08lX", static_cast<unsigned long>(code));
    return text;
}

// Moves the values into one array for a call, and clears what the call did not take.
class CArgumentArray {
  public:
    explicit CArgumentArray(std::vector<CVariantHolder>& holders) {
        for (CVariantHolder& holder : holders) values_.push_back(holder.Detach());
    }
    CArgumentArray(const CArgumentArray&) = delete;
    CArgumentArray& operator=(const CArgumentArray&) = delete;
    ~CArgumentArray() {
        for (VARIANT& value : values_) VariantClear(&value);
    }
    std::span<VARIANT> Values() noexcept { return values_; }

  private:
    std::vector<VARIANT> values_;
};

bool IsProcessId(const Command& command) {
    const Token& first = command.args.front();
    return command.args.size() == 1 && !first.quoted && !first.text.empty() &&
           first.text.find_first_not_of(L"0123456789") == std::wstring::npos;
}

// An argument written node:PATH (not quoted) names a tree node by its path of texts.
std::optional<std::wstring> NodePath(const Token& word) {
    if (word.quoted || word.text.rfind(kNodePrefix, 0) != 0) return std::nullopt;
    return word.text.substr(std::size(kNodePrefix) - 1);
}

CVariantHolder Handle(std::uint64_t node) {
    CVariantHolder value;
    value.Get().vt = VT_I8;
    value.Get().llVal = static_cast<LONGLONG>(node);
    return value;
}

std::vector<std::uint64_t> Handles(const VARIANT& array) {
    std::vector<std::uint64_t> handles;
    if (array.vt != (VT_ARRAY | VT_VARIANT) || array.parray == nullptr) return handles;
    LONG low = 0, high = -1;
    SafeArrayGetLBound(array.parray, 1, &low);
    SafeArrayGetUBound(array.parray, 1, &high);
    for (LONG i = low; i <= high; ++i) {
        CVariantHolder element, wide;
        if (SUCCEEDED(SafeArrayGetElement(array.parray, &i, &element.Get())) &&
            SUCCEEDED(VariantChangeType(&wide.Get(), &element.Get(), 0, VT_I8))) {
            handles.push_back(static_cast<std::uint64_t>(wide.Get().llVal));
        }
    }
    return handles;
}

std::wstring ExecutablePath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

struct MenuRow {
    std::wstring path, text;
    int depth = 0;
    bool checked = false, disabled = false, submenu = false;
};

// The items of the agent's "ListMenu" answer, kMenuFields values each; throws when a value
// is not of its kind.
std::vector<MenuRow> MenuRows(const VARIANT& fields) {
    const CHostError unreadable{L"the agent's menu could not be read"};
    if (fields.vt != (VT_ARRAY | VT_VARIANT) || fields.parray == nullptr) throw unreadable;
    const auto count = static_cast<LONG>(fields.parray->rgsabound[0].cElements);
    std::vector<MenuRow> rows;
    for (LONG row = 0; row + vask::kMenuFields <= count; row += vask::kMenuFields) {
        CVariantHolder values[vask::kMenuFields];
        const VARTYPE types[vask::kMenuFields] = {VT_BSTR, VT_BSTR, VT_I4,
                                                  VT_BOOL, VT_BOOL, VT_BOOL};
        for (LONG f = 0; f < vask::kMenuFields; ++f) {
            CVariantHolder element;
            LONG at = row + f;
            if (FAILED(SafeArrayGetElement(fields.parray, &at, &element.Get())) ||
                FAILED(VariantChangeType(&values[f].Get(), &element.Get(), 0, types[f]))) {
                throw unreadable;
            }
        }
        const auto text = [&](int f) {
            const BSTR value = values[f].Get().bstrVal;
            return std::wstring(value != nullptr ? value : L"", SysStringLen(value));
        };
        const auto flag = [&](int f) { return values[f].Get().boolVal != VARIANT_FALSE; };
        const auto depth = static_cast<int>(std::clamp(values[2].Get().lVal, 0L, 16L));
        rows.push_back(MenuRow{text(0), text(1), depth, flag(3), flag(4), flag(5)});
    }
    return rows;
}

}  // namespace

CHostSession::CHostSession(COutput& out, Transport transport, unsigned timeoutSeconds)
    : out_(out), transport_(transport), timeoutMs_(timeoutSeconds * 1000) {
    // The type library lies beside this executable; node records in events need it too.
    ITypeLibResolutionService* service = GetTypeLibResolutionService();
    Microsoft::WRL::ComPtr<ITypeInfo> type;
    if (service != nullptr) service->AddSearchDirectory(ExecutablePath().c_str());
    if (service != nullptr && service->GetTypeInfoByGuid(&kVirtualControlReferenceGuid, &type)) {
        GetRecordInfoFromTypeInfo(type.Get(), &referenceInfo_);
    }
}

CHostSession::~CHostSession() {
    if (peer_ == nullptr || app_.Ended()) return;
    peer_->SetReplyTimeout(kDetachTimeoutMs);
    peer_->Call(AgentTarget(), L"Detach", DISPATCH_METHOD);
}

void CHostSession::Run(const Command& command) {
    static const std::map<std::wstring, Handler> handlers = {
        {L"attach", &CHostSession::Attach},
        {L"list", &CHostSession::List},
        {L"get", &CHostSession::Get},
        {L"set", &CHostSession::Set},
        {L"call", &CHostSession::Call},
        {L"watch", &CHostSession::WatchEvents},
        {L"members", &CHostSession::Members},
        {L"menu", &CHostSession::Menu},
        {L"unwatch", &CHostSession::Unwatch},
        {L"sync", &CHostSession::Sync},
        {L"picture", &CHostSession::Picture},
        {L"detach", &CHostSession::Detach},
        {L"wait-exit", &CHostSession::WaitExit},
        {L"running", &CHostSession::Running},
        {L"blocks", &CHostSession::Blocks},
        {L"close", &CHostSession::Close},
        {L"text", &CHostSession::Text},
        {L"echo", &CHostSession::Echo},
        {L"windows", &CHostSession::Windows},
        {L"window", &CHostSession::Window},
        {L"wait-window", &CHostSession::WaitWindow},
        {L"wait-closed", &CHostSession::WaitClosed},
        {L"wait", &CHostSession::WaitControl}};
    // The host answers these from the application's windows, without the agent.
    static const std::wstring onWindows[] = {L"windows", L"window", L"wait-window",
                                             L"wait-closed"};
    static const std::wstring withoutAgent[] = {L"attach", L"echo",  L"wait-exit", L"running",
                                                L"blocks", L"close", L"text"};
    // What can still be asked once the application has ended.
    static const std::wstring afterEnd[] = {L"attach", L"echo", L"wait-exit", L"blocks",
                                            L"wait-closed"};
    const auto among = [&](const auto& names) {
        return std::find(std::begin(names), std::end(names), command.name) != std::end(names);
    };
    if (!among(afterEnd) && (ended_ || app_.Ended())) {
        throw CHostError{command.name + L": the application has ended"};
    }
    if ((among(onWindows) && app_.ProcessId() == 0) ||
        (!among(onWindows) && !among(withoutAgent) && peer_ == nullptr)) {
        throw CHostError{command.name + L": not attached to an application"};
    }
    expected_ = command.expected;
    HoldEvents();
    try {
        (this->*handlers.at(command.name))(command);
    } catch (...) {
        PrintHeldEvents();
        throw;
    }
    PrintHeldEvents();
}

void CHostSession::HoldEvents() {
    std::lock_guard lock(watchMutex_);
    holding_ = true;
}

void CHostSession::PrintHeldEvents() {
    std::vector<std::pair<std::wstring, CJsonObject>> held;
    {
        std::lock_guard lock(watchMutex_);
        holding_ = false;
        held.swap(held_);
    }
    for (const auto& [readable, json] : held) out_.Event(readable, json);
}

void CHostSession::Attach(const Command& command) {
    if (peer_ != nullptr) {
        throw CHostError{L"already attached to process " + std::to_wstring(app_.ProcessId())};
    }
    const std::wstring& target = command.args.front().text;
    blocksAtAttach_ = GetLiveBlockCount();
    std::wstring name = target;
    if (CCommandLine::IsFlag(command.args.front())) {
        name = OpenRunning(command);
    } else if (IsProcessId(command)) {
        if (!app_.Open(std::wcstoul(target.c_str(), nullptr, 10))) {
            throw CHostError{L"no process " + target};
        }
        name = L"process " + target;
    } else {
        std::vector<std::wstring> arguments;
        for (size_t i = 1; i < command.args.size(); ++i) arguments.push_back(command.args[i].text);
        if (const auto why = app_.Start(target, arguments)) {
            throw CHostError{L"cannot start " + target + L": " + *why};
        }
    }
    const std::wstring process = L"process " + std::to_wstring(app_.ProcessId());
    const DWORD thread = app_.WaitForGuiThread(kStartTimeoutMs);
    if (thread == 0) {
        throw CHostError{process + (app_.Ended() ? L" ended before it showed a window"
                                                 : L" shows no visible window")};
    }
    Connect(thread);
    // Readable lines name the application as it was given, so that a script's transcript is
    // the same on every run; the JSON object has the ids.
    appName_ = name;
    ended_ = false;
    scope_.End();
    out_.Line(L"attached to " + appName_,
              CJsonObject()
                  .AddText("command", L"attach")
                  .Add("process", app_.ProcessId())
                  .Add("thread", thread));
}

std::wstring CHostSession::OpenRunning(const Command& command) {
    const bool byName = command.args[0].text == L"--running";
    const std::wstring& value = command.args[1].text;
    std::optional<DWORD> processId;
    if (byName) {
        processId = CProcessList::Newest(value);
        if (!processId) throw CHostError{L"no running " + value};
    } else {
        const std::optional<TopWindow> top = CWindowFinder::ByTitle(0, value);
        if (!top) {
            throw CHostError{L"no visible window whose title contains " + CValueText::Quote(value)};
        }
        processId = top->process;
    }
    if (!app_.Open(*processId)) throw CHostError{L"no process " + std::to_wstring(*processId)};
    return byName ? value : CProcessList::ExecutableOf(*processId);
}

void CHostSession::Connect(DWORD thread) {
    const DWORD processId = app_.ProcessId();
    const std::wstring process = L"process " + std::to_wstring(processId);
    std::unique_ptr<CWindowsMessagePeer> windowPeer;
    if (transport_ == Transport::Window) {
        windowPeer = std::make_unique<CWindowsMessagePeer>();
        if (windowPeer->Window() == nullptr) throw CHostError{L"no window to receive events"};
    }
    if (!StartAgent(thread, windowPeer ? windowPeer->Window() : nullptr, &sessionKey_)) {
        throw CHostError{L"the agent did not start in " + process};
    }
    if (windowPeer) {
        const HWND agent = FindWindowExW(HWND_MESSAGE, nullptr, vask::kAgentWindowClass,
                                         std::to_wstring(processId).c_str());
        if (agent == nullptr) throw CHostError{L"the agent's window was not found in " + process};
        windowPeer->SetTargetWindow(agent);
        peer_ = std::move(windowPeer);
    } else {
        auto queuePeer =
            std::make_unique<CLpcPeer>(vask::AgentHostQueueName(GetCurrentProcessId()),
                                       vask::AgentQueueName(processId));
        if (!queuePeer->Created() || !queuePeer->Announce()) {
            throw CHostError{L"no queue to the agent in " + process};
        }
        peer_ = std::move(queuePeer);
    }
    peer_->SetEventHandler([this](const PeerEvent& event) { return OnEvent(event); });
    // The agent answers "busy" for an operation still running after half of this wait, so
    // that its answer, not silence, reaches this side.
    peer_->SetReplyTimeout(timeoutMs_);
    std::vector<CVariantHolder> bound;
    bound.push_back(Handle(timeoutMs_ / 2));
    Invoke(L"SetOperationBound", std::move(bound));
}

void CHostSession::List(const Command& command) {
    ListingOptions options;
    for (const Token& flag : command.args) {
        (flag.text == L"--all" ? options.all : options.handles) = true;
    }
    table_.reset();
    CControlListing::Print(out_, Table(), options, app_.ProcessId(), scope_.Scope());
}

void CHostSession::Get(const Command& command) {
    Operate(command, L"Get" + command.args[1].text, false);
}

void CHostSession::Set(const Command& command) {
    Operate(command, L"Set" + command.args[1].text, true);
}

void CHostSession::Call(const Command& command) { Operate(command, command.args[1].text, true); }

void CHostSession::Operate(const Command& command, const std::wstring& member, bool drives) {
    const Control control = Resolve(command.args[0]);
    if (command.args.size() - 1 > kMaxCallArguments) {
        throw CHostError{L"too many arguments for " + member + L" (at most " +
                         std::to_wstring(kMaxCallArguments - 1) + L")"};
    }
    std::vector<CVariantHolder> arguments = OperationArguments(command, control, member);
    std::wstring shown;
    Json json = Json::array();
    for (size_t i = 2; i < command.args.size(); ++i) {
        const VARIANT& value = arguments[i - 1].Get();
        shown += L" " + (NodePath(command.args[i]) ? command.args[i].text
                                                   : CValueText::Format(value));
        json.push_back(CValueText::ToJson(value));
    }
    const std::wstring head =
        command.name + L" " + control.name + L" " + command.args[1].text + shown;
    const CJsonObject object =
        CJsonObject()
            .AddText("command", command.name)
            .AddText("control", control.name)
            .AddText(command.name == L"call" ? "operation" : "property", command.args[1].text)
            .Add("args", std::move(json));
    const PeerReply reply = CallAgent(member, std::move(arguments));
    if (reply.Arrived && reply.State == StateFailedCode && reply.FailureCode == vask::kAgentBusy &&
        expected_ == L"busy") {
        // The operation goes on in a modal window that it opened; what that window shows is
        // listed afresh.
        out_.Line(head + L" -> busy", CJsonObject(object).Add("result", "busy"));
        table_.reset();
        ForgetNodes();
        return;
    }
    if (drives && reply.State != StateCompleted && Gone(reply) && EndedAfter(head, object)) return;
    Check(reply, member);
    // The Sync lets what the action raised arrive before this command ends (it is printed after
    // the command's line); then the nodes are named afresh and the controls listed again, since
    // the action may have changed them.
    if (drives) {
        const PeerReply sync = CallAgent(L"Sync", {});
        if (Gone(sync) && EndedAfter(head, object)) return;
        Check(sync, L"Sync");
    }
    PrintResult(head, object, reply.Result.Get(), ResultNamer(control, member));
    if (drives) {
        ForgetNodes();
        table_.reset();
    }
}

std::vector<CVariantHolder> CHostSession::OperationArguments(const Command& command,
                                                             const Control& control,
                                                             const std::wstring& member) {
    const std::optional<std::vector<VARTYPE>> declared =
        types_.InArguments(control.typeName, member);
    std::vector<CVariantHolder> arguments;
    arguments.push_back(Reference(control));
    for (size_t i = 2; i < command.args.size(); ++i) {
        const std::optional<std::wstring> path = NodePath(command.args[i]);
        const VARTYPE type = declared && i - 2 < declared->size() ? (*declared)[i - 2]
                                                                 : VARTYPE{VT_VARIANT};
        arguments.push_back(path ? NodeArgument(control, *path)
                                 : CValueText::Parse(command.args[i], type));
    }
    return arguments;
}

bool CHostSession::Gone(const PeerReply& reply) const {
    return !reply.Arrived || CWindowFinder::Visible(app_.ProcessId()).empty();
}

bool CHostSession::EndedAfter(const std::wstring& head, CJsonObject json) {
    if (!app_.Ended() && !app_.WaitForExit(kEndGraceMs)) return false;
    Forget();
    ended_ = true;
    out_.Line(head + L" -> done (the application ended)",
              json.Add("result", nullptr).Add("ended", true));
    return true;
}

void CHostSession::WatchEvents(const Command& command) {
    const Control& control = Resolve(command.args[0]);
    const auto isAsk = [](const Token& word) { return !word.quoted && word.text == L"--ask"; };
    const bool ask = std::any_of(command.args.begin() + 1, command.args.end(), isAsk);
    if (ask && answers_ == nullptr) {
        throw CHostError{L"watch --ask: only a session (tarnwick-host --session) can answer"};
    }
    std::vector<std::pair<std::wstring, bool>> events;  // in the order given; true: cancel
    for (size_t i = 1; i < command.args.size(); ++i) {
        if (isAsk(command.args[i])) continue;
        const bool cancel = command.args[i].text == L"--cancel" && !command.args[i].quoted;
        if (cancel) ++i;
        const auto same = [&](const auto& event) { return event.first == command.args[i].text; };
        const auto found = std::find_if(events.begin(), events.end(), same);
        if (found == events.end()) {
            events.emplace_back(command.args[i].text, cancel);
        } else {
            found->second |= cancel;
        }
    }
    std::wstring shown;
    Json names = Json::array(), cancelled = Json::array();
    for (const auto& [name, cancel] : events) {
        {
            std::lock_guard lock(watchMutex_);
            watches_[{control.window, name}] = Watch{control.name, cancel, ask && !cancel};
        }
        const PeerReply reply =
            peer_->Subscribe(ControlTarget(control), name.c_str(), name.c_str());
        if (!reply.Arrived || reply.State != StateCompleted) {
            std::lock_guard lock(watchMutex_);
            watches_.erase({control.window, name});
        }
        Check(reply, L"watch " + control.name + L" " + name);
        shown += (shown.empty() ? L"" : L", ") + name +
                 (cancel ? L" (cancel)" : ask ? L" (ask)" : L"");
        names.push_back(Utf8(name));
        if (cancel) cancelled.push_back(Utf8(name));
    }
    out_.Line(L"watch " + control.name + L" " + shown + L" -> done",
              CJsonObject()
                  .AddText("command", L"watch")
                  .AddText("control", control.name)
                  .Add("events", std::move(names))
                  .Add("cancel", std::move(cancelled))
                  .Add("ask", ask));
}

void CHostSession::Members(const Command& command) {
    const Control& control = Resolve(command.args[0]);
    const auto operations = types_.Operations(control.typeName);
    std::vector<CVariantHolder> arguments;
    arguments.push_back(Reference(control));
    const auto has = [&](const std::wstring& name, size_t arguments) {
        return std::any_of(operations.begin(), operations.end(), [&](const auto& operation) {
            return operation.first == name && operation.second == arguments;
        });
    };
    // A property is a "Get" without arguments, settable when a "Set" with one goes with it;
    // its two operations are listed too.
    Json properties = Json::array(), calls = Json::array(), events = Json::array();
    std::wstring shownProperties, shownCalls, shownEvents;
    for (const auto& [name, arguments] : operations) {
        calls.push_back(Utf8(name));
        shownCalls += (shownCalls.empty() ? L"" : L", ") + name;
        if (name.rfind(L"Get", 0) != 0 || name.size() <= 3 || arguments != 0) continue;
        const std::wstring property = name.substr(3);
        const bool settable = has(L"Set" + property, 1);
        properties.push_back({{"name", Utf8(property)}, {"settable", settable}});
        shownProperties +=
            (shownProperties.empty() ? L"" : L", ") + property + (settable ? L" (settable)" : L"");
    }
    const CVariantHolder listed = Invoke(L"ListEvents", std::move(arguments));
    events = CValueText::ToJson(listed.Get());
    if (!events.is_array()) events = Json::array();
    for (const Json& event : events) {
        if (event.is_string()) {
            shownEvents += (shownEvents.empty() ? L"" : L", ") + Wide(event.get<std::string>());
        }
    }
    out_.Line(L"members " + control.name + L" -> properties: " + shownProperties +
                  L"; operations: " + shownCalls + L"; events: " + shownEvents,
              CJsonObject()
                  .AddText("command", L"members")
                  .AddText("control", control.name)
                  .AddText("kind", control.typeName)
                  .Add("properties", std::move(properties))
                  .Add("operations", std::move(calls))
                  .Add("events", std::move(events)));
}

void CHostSession::Menu(const Command& command) {
    const TopWindow window = scope_.ScopeOrMain();
    const Token& path = command.args[0];
    if (!path.quoted && path.text == L"--list") {
        ListMenu(window);
        return;
    }
    std::vector<CVariantHolder> arguments;
    arguments.push_back(Handle(reinterpret_cast<std::uintptr_t>(window.window)));
    arguments.push_back(CValueText::Parse({path.text, true}));
    const std::wstring head = L"menu " + CValueText::Quote(path.text);
    const CJsonObject object = CJsonObject().AddText("command", L"menu").AddText("path", path.text);
    const PeerReply reply = CallAgent(L"ChooseMenu", std::move(arguments));
    // The command may close the application (Exit) or open a modal window; as after a click,
    // what it raised arrives before this command ends, and the controls are listed afresh.
    if (reply.State != StateCompleted && Gone(reply) && EndedAfter(head, object)) return;
    Check(reply, head);
    const PeerReply sync = CallAgent(L"Sync", {});
    if (Gone(sync) && EndedAfter(head, object)) return;
    Check(sync, L"Sync");
    PrintResult(head, object, reply.Result.Get());
    ForgetNodes();
    table_.reset();
}

void CHostSession::ListMenu(const TopWindow& window) {
    std::vector<CVariantHolder> arguments;
    arguments.push_back(Handle(reinterpret_cast<std::uintptr_t>(window.window)));
    const PeerReply reply = CallAgent(L"ListMenu", std::move(arguments));
    Check(reply, L"menu --list");
    const std::vector<MenuRow> items = MenuRows(reply.Result.Get());
    out_.Line(L"menu --list -> " + CValueText::Quote(window.title),
              CJsonObject()
                  .AddText("command", L"menu")
                  .AddText("window", CValueText::Hex(window.window))
                  .AddText("title", window.title));
    for (const MenuRow& item : items) {
        std::wstring states = item.checked ? L"checked" : L"";
        if (item.disabled) states += (states.empty() ? L"" : L", ") + std::wstring(L"disabled");
        out_.Line(std::wstring(2 * static_cast<size_t>(item.depth) + 2, L' ') + item.text +
                      (states.empty() ? L"" : L"  (" + states + L")"),
                  CJsonObject()
                      .AddText("command", L"menu")
                      .AddText("path", item.path)
                      .Add("checked", item.checked)
                      .Add("disabled", item.disabled)
                      .Add("submenu", item.submenu));
    }
}

void CHostSession::Unwatch(const Command& command) {
    const Control& control = Resolve(command.args[0]);
    std::wstring shown;
    for (size_t i = 1; i < command.args.size(); ++i) {
        const std::wstring& name = command.args[i].text;
        Check(peer_->Unsubscribe(ControlTarget(control), name.c_str()), L"unwatch " + name);
        std::lock_guard lock(watchMutex_);
        watches_.erase({control.window, name});
        shown += (shown.empty() ? L"" : L", ") + name;
    }
    out_.Line(L"unwatch " + control.name + L" " + shown + L" -> done",
              CJsonObject().AddText("command", L"unwatch").AddText("control", control.name));
}

void CHostSession::Sync(const Command&) {
    const CVariantHolder result = Invoke(L"Sync", {});
    PrintResult(L"sync", CJsonObject().AddText("command", L"sync"), result.Get());
}

void CHostSession::Picture(const Command& command) {
    // The agent runs in the application's folder: it gets the full path.
    const std::wstring& path = command.args[0].text;
    std::wstring full(MAX_PATH, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full.data(), nullptr);
    if (length == 0 || length >= MAX_PATH) throw CHostError{L"not a usable path: " + path};
    full.resize(length);
    std::vector<CVariantHolder> arguments;
    arguments.push_back(CValueText::Parse({full, true}));
    std::wstring head = L"picture " + full;
    CJsonObject json = CJsonObject().AddText("command", L"picture").AddText("path", full);
    if (command.args.size() == 2) {
        const Control control = Resolve(command.args[1]);
        arguments.push_back(Handle(control.window));
        head += L" " + control.name;
        json.AddText("control", control.name);
    } else if (command.args.size() == 3) {
        const TopWindow window = scope_.Titled(command.args[2].text);
        arguments.push_back(Handle(reinterpret_cast<std::uintptr_t>(window.window)));
        head += L" --window " + CValueText::Quote(window.title);
        json.AddText("window", window.title);
    }
    const CVariantHolder result = Invoke(L"SavePicture", std::move(arguments));
    if (result.Get().vt != VT_BOOL || result.Get().boolVal == VARIANT_FALSE) {
        throw CHostError{L"the picture could not be saved to " + full};
    }
    PrintResult(head, std::move(json), result.Get());
    Invoke(L"Sync", {});
}

void CHostSession::Detach(const Command&) {
    const CVariantHolder result = Invoke(L"Detach", {});
    Forget();
    PrintResult(L"detach", CJsonObject().AddText("command", L"detach"), result.Get());
}

void CHostSession::WaitExit(const Command& command) {
    const DWORD seconds = CCommandLine::Seconds(command, kWaitExitSeconds);
    if (app_.ProcessId() == 0) throw CHostError{L"no application to wait for"};
    const std::wstring process = L"process " + std::to_wstring(app_.ProcessId());
    const std::optional<DWORD> code = app_.WaitForExit(seconds * 1000);
    if (!code) {
        throw CHostError{process + L" did not end within " + std::to_wstring(seconds) + L" s"};
    }
    Forget();
    out_.Line(
        L"wait-exit -> " + appName_ + L" ended with code " + std::to_wstring(*code),
        CJsonObject().AddText("command", L"wait-exit").Add("exitCode", *code));
}

void CHostSession::Running(const Command&) {
    const std::wstring process = L"process " + std::to_wstring(app_.ProcessId());
    if (app_.ProcessId() == 0) throw CHostError{L"no application"};
    if (app_.Ended()) throw CHostError{L"the application has ended (" + process + L")"};
    if (!app_.Answers(kAnswerTimeoutMs)) {
        throw CHostError{process + L": its window did not answer within " +
                         std::to_wstring(kAnswerTimeoutMs / 1000) + L" s"};
    }
    out_.Line(L"running -> " + appName_ + L" runs and its window answers",
              CJsonObject().AddText("command", L"running").Add("result", true));
}

void CHostSession::Blocks(const Command&) {
    if (peer_ != nullptr) peer_->FreeLateReplies();
    const std::uint32_t alive = GetLiveBlockCount();
    if (alive > blocksAtAttach_) {
        throw CHostError{std::to_wstring(alive - blocksAtAttach_) +
                         L" shared-memory blocks made since attach are still alive"};
    }
    out_.Line(L"blocks -> none left since attach",
              CJsonObject().AddText("command", L"blocks").Add("result", 0));
}

void CHostSession::Close(const Command&) {
    if (app_.ProcessId() == 0) throw CHostError{L"no application to close"};
    if (!app_.Close()) {
        throw CHostError{L"process " + std::to_wstring(app_.ProcessId()) + L" has no window to close"};
    }
    out_.Line(L"close -> done", CJsonObject().AddText("command", L"close"));
}

void CHostSession::Text(const Command& command) {
    const std::wstring& name = command.args[0].text;
    const std::optional<std::int64_t> id =
        name.size() > 1 && name[0] == L'#' && !command.args[0].quoted
            ? std::optional<std::int64_t>(std::wcstoll(name.c_str() + 1, nullptr, 10))
            : std::nullopt;
    if (!id || name.find_first_not_of(L"0123456789", 1) != std::wstring::npos) {
        throw CHostError{L"text takes a control id (#ID), not " + name};
    }
    if (app_.ProcessId() == 0 || app_.Ended()) throw CHostError{L"no application to read"};
    const std::optional<std::wstring> text = app_.ChildText(static_cast<int>(*id));
    if (!text) throw CHostError{L"no window with id " + name + L" in the application"};
    CVariantHolder value;
    value.Get().bstrVal = SysAllocStringLen(text->data(), static_cast<UINT>(text->size()));
    if (value.Get().bstrVal != nullptr) value.Get().vt = VT_BSTR;
    PrintResult(L"text " + name, CJsonObject().AddText("command", L"text").AddText("control", name),
                value.Get());
}

void CHostSession::Echo(const Command& command) {
    out_.Line(command.rest, CJsonObject().AddText("echo", command.rest));
}

void CHostSession::Windows(const Command& command) { scope_.Windows(command); }

void CHostSession::Window(const Command& command) {
    scope_.Window(command);
    table_.reset();
}

void CHostSession::WaitWindow(const Command& command) {
    scope_.WaitWindow(command);
    table_.reset();
}

void CHostSession::WaitClosed(const Command& command) {
    scope_.WaitClosed(command);
    table_.reset();
}

void CHostSession::WaitControl(const Command& command) {
    const Token& name = command.args[0];
    const DWORD seconds = CCommandLine::Seconds(command, scope_.DefaultWaitSeconds());
    std::optional<Control> found;
    const auto outcome = app_.WaitUntil(seconds * 1000, [&] {
        table_.reset();
        const Control* control = Table().Find(name);
        found = control != nullptr ? std::optional<Control>(*control) : std::nullopt;
        return found && !found->hidden;
    });
    const std::wstring missing =
        found ? found->name + L" is still hidden" : L"no control " + name.text;
    if (outcome == CApplication::WaitOutcome::Ended) {
        throw CHostError{L"the application has ended, with " + missing + scope_.Where()};
    }
    if (outcome == CApplication::WaitOutcome::TimedOut) {
        throw CHostError{L"wait: " + missing + L" after " + std::to_wstring(seconds) + L" s" +
                         scope_.Where()};
    }
    out_.Line(L"wait " + name.text + L" -> " + found->name,
              CJsonObject().AddText("command", L"wait").AddText("control", found->name));
}

const CControlTable& CHostSession::Table() {
    if (!table_) {
        // Page by page: one reply carries a bounded number of values.
        std::vector<CVariantHolder> pages;
        for (std::int64_t first = 0;; first += vask::kControlsPerPage) {
            std::vector<CVariantHolder> from;
            from.push_back(Handle(static_cast<std::uint64_t>(first)));
            pages.push_back(Invoke(L"ListControls", std::move(from)));
            const VARIANT& page = pages.back().Get();
            const bool full = page.vt == (VT_ARRAY | VT_VARIANT) && page.parray != nullptr &&
                              page.parray->rgsabound[0].cElements ==
                                  ULONG{vask::kControlsPerPage} * vask::kControlFields;
            if (!full) break;
        }
        table_ = CControlTable::FromPages(pages, scope_.Scope());
        if (!table_) throw CHostError{L"the agent's list of controls could not be read"};
    }
    return *table_;
}

Control CHostSession::Resolve(const Token& name) {
    const bool fresh = !table_;
    if (const Control* control = Table().Find(name)) return *control;
    if (!fresh) {
        table_.reset();
        if (const Control* control = Table().Find(name)) return *control;
    }
    throw CHostError{L"no such control: " + name.text + scope_.Where()};
}

CVariantHolder CHostSession::Reference(const Control& control) {
    void* record = referenceInfo_ != nullptr ? referenceInfo_->RecordCreate() : nullptr;
    if (record == nullptr) {
        throw CHostError{
            L"no VirtualControlReference: Tarnwick.Virtual.Interfaces.tlb "
            L"should be beside tarnwick-host.exe"};
    }
    CVariantHolder reference;
    V_VT(&reference.Get()) = VT_RECORD;
    V_RECORD(&reference.Get()) = record;
    V_RECORDINFO(&reference.Get()) = referenceInfo_.Get();
    referenceInfo_->AddRef();
    CVariantHolder window;
    window.Get().vt = VT_I8;
    window.Get().llVal = static_cast<LONGLONG>(control.window);
    const HRESULT filled =
        referenceInfo_->PutField(INVOKE_PROPERTYPUT, record, L"WindowHandle", &window.Get());
    if (FAILED(filled)) {
        throw CHostError{L"the VirtualControlReference record could not be filled (" +
                         HResultText(filled) + L")"};
    }
    return reference;
}

CTreeNodes& CHostSession::Nodes(const Control& control) {
    std::lock_guard lock(watchMutex_);
    std::unique_ptr<CTreeNodes>& nodes = trees_[control.window];
    if (nodes == nullptr) {
        auto children = [this, control](std::uint64_t node) {
            std::vector<CVariantHolder> arguments;
            arguments.push_back(Reference(control));
            arguments.push_back(Handle(node));
            return Handles(Invoke(L"GetChildren", std::move(arguments)).Get());
        };
        auto text = [this, control](std::uint64_t node) {
            std::vector<CVariantHolder> arguments;
            arguments.push_back(Reference(control));
            arguments.push_back(Handle(node));
            const CVariantHolder result = Invoke(L"GetNodeText", std::move(arguments));
            const VARIANT& value = result.Get();
            return std::wstring(value.vt == VT_BSTR && value.bstrVal != nullptr ? value.bstrVal
                                                                                : L"");
        };
        nodes = std::make_unique<CTreeNodes>(children, text);
    }
    return *nodes;
}

CVariantHolder CHostSession::NodeArgument(const Control& control, const std::wstring& path) {
    if (control.typeName != kTreeKind) {
        throw CHostError{kNodePrefix + path + L": " + control.name + L" is not a tree view"};
    }
    const std::optional<std::uint64_t> node = Nodes(control).Find(path);
    if (!node) throw CHostError{L"no such node: " + path + L" (in " + control.name + L")"};
    return Handle(*node);
}

NodeNamer CHostSession::ResultNamer(const Control& control, const std::wstring& member) {
    if (control.typeName != kTreeKind || (member != L"GetChildren" && member != L"GetSelectedNode"))
        return {};
    CTreeNodes* nodes = &Nodes(control);
    return [nodes](std::uint64_t node) { return nodes->PathOf(node); };
}

void CHostSession::ForgetNodes() {
    std::lock_guard lock(watchMutex_);
    for (auto& [window, nodes] : trees_) nodes->Forget();
}

CVariantHolder CHostSession::Invoke(const std::wstring& member,
                                    std::vector<CVariantHolder> arguments) {
    PeerReply reply = CallAgent(member, std::move(arguments));
    Check(reply, member);
    return std::move(reply.Result);
}

PeerReply CHostSession::CallAgent(const std::wstring& member,
                                  std::vector<CVariantHolder> arguments) {
    CArgumentArray values(arguments);
    return peer_->Call(AgentTarget(), member.c_str(), DISPATCH_METHOD, values.Values());
}

PeerTarget CHostSession::AgentTarget() const {
    PeerTarget target{ReturnAddressRecord{app_.ProcessId(), 0, 0, 0}, {}};
    const vask::SessionKey key = vask::MakeSessionKey(sessionKey_);
    std::memcpy(target.Key.Bytes, key.bytes, sizeof key.bytes);
    return target;
}

PeerTarget CHostSession::ControlTarget(const Control& control) const {
    PeerTarget target = AgentTarget();
    target.Address = {app_.ProcessId(), control.owner, control.translator, control.window};
    return target;
}

void CHostSession::Check(const PeerReply& reply, const std::wstring& what) const {
    const std::wstring detail =
        reply.FailureDetail.empty() ? L"" : L" (" + reply.FailureDetail + L")";
    if (!reply.Arrived) {
        const std::wstring process = L"process " + std::to_wstring(app_.ProcessId());
        throw CHostError{app_.Ended()
                             ? L"the application has ended (" + process + L")"
                             : L"no reply from the application (" + process + L") to " + what};
    }
    switch (reply.State) {
        case StateCompleted:
            return;
        case StateException:
            throw CHostError{
                what + L" raised an exception: " + reply.ExceptionText2 +
                (reply.ExceptionText1.empty() ? L"" : L" [" + reply.ExceptionText1 + L"]")};
        case StateFailedCode:
            switch (reply.FailureCode) {
                case DISP_E_UNKNOWNNAME:
                    throw CHostError{L"no such operation: " + what};
                case E_INVALIDARG:
                case vask::kAgentNotClickable:
                    // The agent or the control's translator says which argument and why.
                    throw CHostError{what + L": " +
                                     (reply.FailureDetail.empty() ? L"an argument was refused"
                                                                  : reply.FailureDetail)};
                case DISP_E_TYPEMISMATCH:
                    throw CHostError{L"wrong argument kind for " + what + detail};
                case DISP_E_BADPARAMCOUNT:
                    throw CHostError{L"wrong number of arguments for " + what};
                case vask::kAgentBusy:
                    throw CHostError{what + L": the application is busy or shows a modal window "
                                            L"(the operation goes on there; later commands "
                                            L"reach that window)"};
                case vask::kAgentResultTooLarge:
                    throw CHostError{what + L": the result is too large" + detail};
                default:
                    throw CHostError{what + L" failed with code " + HResultText(reply.FailureCode) +
                                     detail};
            }
        default:
            throw CHostError{what + L" failed" + detail};
    }
}

void CHostSession::PrintResult(const std::wstring& head, CJsonObject json, const VARIANT& result,
                               const NodeNamer& nodes) {
    const std::wstring readable = result.vt == VT_EMPTY
                                      ? L"done"
                                      : CValueText::Format(result, nodes);
    out_.Line(head + L" -> " + readable,
              json.Add("result", CValueText::ToJson(result)));
    // A shell takes the quotes off a text written on the command line, so a text result
    // matches its bare text too.
    const bool bareText = result.vt == VT_BSTR && expected_ &&
                          *expected_ == std::wstring_view(result.bstrVal ? result.bstrVal : L"");
    if (expected_ && *expected_ != readable && !bareText) {
        throw CHostError{head + L": expected " + *expected_ + L", got " + readable};
    }
}

void CHostSession::Forget() {
    peer_.reset();
    table_.reset();
    std::lock_guard lock(watchMutex_);
    watches_.clear();
    trees_.clear();
}

CVariantHolder CHostSession::OnEvent(const PeerEvent& event) {
    // Answered at once, without a request of its own: the application's thread waits for it.
    Watch watch{CValueText::Hex(event.Address.O), false};
    NodeNamer nodes;
    {
        std::lock_guard lock(watchMutex_);
        const auto found = watches_.find({event.Address.O, event.SubscriptionTag});
        if (found != watches_.end()) watch = found->second;
        const auto tree = trees_.find(event.Address.O);
        if (tree != trees_.end()) {
            nodes = [known = tree->second.get()](std::uint64_t node) {
                return known->KnownPath(node);
            };
        }
    }
    std::wstring readable;
    Json json = Json::array();
    for (const CVariantHolder& argument : event.Arguments) {
        readable += (readable.empty() ? L"" : L", ") + CValueText::Format(argument.Get(), nodes);
        json.push_back(CValueText::ToJson(argument.Get()));
    }
    std::wstring line = L"event " + event.SubscriptionTag + L" on " + watch.control +
                        (readable.empty() ? L"" : L" (" + readable + L")");
    CJsonObject object = CJsonObject()
                             .AddText("event", event.SubscriptionTag)
                             .AddText("control", watch.control)
                             .Add("args", std::move(json));
    CVariantHolder answer;
    answer.Get().vt = VT_BOOL;
    if (watch.ask && answers_ != nullptr) {
        answer.Get().boolVal = AskAnswer(line, std::move(object)) ? VARIANT_TRUE : VARIANT_FALSE;
        return answer;
    }
    answer.Get().boolVal = watch.cancel ? VARIANT_TRUE : VARIANT_FALSE;
    if (watch.cancel) line += L" (cancelled)";
    object.Add("cancelled", watch.cancel);
    {
        std::lock_guard lock(watchMutex_);
        if (holding_) {
            held_.emplace_back(std::move(line), std::move(object));
            line.clear();
        }
    }
    if (!line.empty()) out_.Event(line, object);
    return answer;
}

bool CHostSession::AskAnswer(const std::wstring& readable, CJsonObject json) {
    // Printed at once, not held behind the command that runs: that command may well be
    // waiting for the application, which waits for this answer.
    const std::uint64_t id = ++asked_;
    answers_->Expect(id);
    const std::wstring number = std::to_wstring(id);
    out_.Event(readable + L" (answer " + number + L": cancel or allow)", json.Add("ask", id));
    const std::optional<bool> cancel = answers_->WaitAnswer(id, answerTimeoutMs_);
    if (!cancel) {
        out_.Notice(L"no answer to event " + number + L" within " +
                        std::to_wstring(answerTimeoutMs_ / 1000) + L" s: allowed",
                    CJsonObject().Add("event", id).Add("answer", "allow"));
    }
    return cancel.value_or(false);
}

}  // namespace tarnwick::host
