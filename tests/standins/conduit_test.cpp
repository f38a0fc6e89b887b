// Vask.Conduit.x64.dll: two senders at once, one owner per name, destruction during a callback.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/vaskconduit.h"
#include "standins/common/cscopedhandle.h"
#include "standins/conduit/queuelayout.h"
#include "standins/startbarrier.h"
#include "support/childmode.h"
#include "support/childprocess.h"

namespace {

using Record = std::vector<std::uint8_t>;

struct TaggedRecord {
    std::uint32_t sender;
    std::uint32_t sequence;
};

const std::uint8_t kBytes[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

std::wstring UniqueName(const wchar_t* what) {
    static int serial = 0;
    return std::wstring(L"TarnwickTest\\Conduit.") + what + L"." +
           std::to_wstring(GetCurrentProcessId()) + L"." + std::to_wstring(++serial);
}

int Send(const std::wstring& name, const void* data = kBytes, std::uint32_t size = 16) {
    return SendIpcMessage(name.c_str(), data, size, 0, 0, 0xFFFFFFFF, nullptr);
}

vask::CScopedHandle Event(const std::wstring& name = {}) {
    return vask::CScopedHandle(
        CreateEventW(nullptr, TRUE, FALSE, name.empty() ? nullptr : name.c_str()));
}

// Serves a queue and keeps what arrives; `onRecord` (when set) runs first.
class CReceiver {
  public:
    std::function<void()> onRecord;

    // A queue still served (after a failed assertion) must not call into a gone receiver.
    ~CReceiver() {
        if (!name_.empty()) DestroyIpcQueue(name_.c_str());
    }

    bool Create(const std::wstring& name) {
        if (CreateIpcQueue(name.c_str(), &Callback, this, 0, 16, 4096) == 0) return false;
        name_ = name;
        return true;
    }

    // Waits (up to 30 s) until `count` records have arrived; true when they have.
    bool WaitFor(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30),
                                 [&] { return records_.size() >= count; });
    }
    std::vector<Record> Records() {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_;
    }

  private:
    static void Callback(void* reserved, void* context, const void* data, std::uint32_t size) {
        EXPECT_EQ(reserved, nullptr);
        auto* self = static_cast<CReceiver*>(context);
        if (self->onRecord) self->onRecord();
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->records_.emplace_back(bytes, bytes + size);
        self->changed_.notify_all();
    }

    std::wstring name_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Record> records_;
};

}  // namespace

// args: queue name, sender tag, count, start barrier. Posts `count` tagged records.
TARNWICK_CHILD_MODE(ConduitSend) {
    const auto tag = static_cast<std::uint32_t>(std::stoul(args.at(1)));
    const auto count = static_cast<std::uint32_t>(std::stoul(args.at(2)));
    if (!tarnwick::test::CStartBarrier::Arrive(args.at(3))) return 2;
    for (std::uint32_t i = 0; i < count; ++i) {
        const TaggedRecord record{tag, i};
        if (Send(args.at(0), &record, sizeof record) == 0) return 3;
    }
    return 0;
}

// Whether the delivery thread of this process's queue (a name without '%') waits for a wake.
bool DeliveryThreadSleeps(std::wstring name) {
    for (size_t at = name.find(L'\\'); at != std::wstring::npos; at = name.find(L'\\', at)) {
        name.replace(at, 1, L"%5C");
    }
    const vask::CScopedHandle mapping(
        OpenFileMappingW(FILE_MAP_READ, FALSE, (L"Local\\Vask.Conduit.v2.Queue." + name).c_str()));
    const vask::CMappedView view(
        mapping.IsValid() ? MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0) : nullptr);
    return view.Get() != nullptr &&
           static_cast<const volatile vask::conduit::QueueHeader*>(view.Get())->sleeping != 0;
}

// args: queue, ready event, quit event. Serves, then dies as a crash would; answers the count.
TARNWICK_CHILD_MODE(ConduitServeAndDie) {
    CReceiver receiver;
    if (!receiver.Create(args.at(0))) return 100;
    vask::CScopedHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, args.at(1).c_str()));
    vask::CScopedHandle quit(OpenEventW(SYNCHRONIZE, FALSE, args.at(2).c_str()));
    if (!ready.IsValid() || !quit.IsValid() || !SetEvent(ready.Get())) return 101;
    if (WaitForSingleObject(quit.Get(), 30000) != WAIT_OBJECT_0) return 102;
    receiver.WaitFor(1);
    // Dies while its delivery thread sleeps, as an idle owner does; no event tells when.
    for (int i = 0; i < 5000 && !DeliveryThreadSleeps(args.at(0)); ++i) Sleep(1);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(receiver.Records().size()));
    return 103;
}

namespace {

TEST(Conduit, QueueFedFromTwoProcessesDeliversEveryRecordOnceInOrder) {
    const std::wstring name = UniqueName(L"TwoSenders");
    CReceiver receiver;
    ASSERT_TRUE(receiver.Create(name));
    tarnwick::test::CStartBarrier barrier(L"Senders");
    constexpr std::uint32_t kEach = 3000;
    tarnwick::test::CChildProcess senders[2];
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(senders[i].Start(
            L"ConduitSend", {name, std::to_wstring(i), std::to_wstring(kEach), barrier.Name()}));
    }
    ASSERT_TRUE(barrier.Release(2));
    for (auto& sender : senders) EXPECT_EQ(sender.Wait(), std::optional<DWORD>(0));
    ASSERT_TRUE(receiver.WaitFor(2 * kEach));
    EXPECT_EQ(DestroyIpcQueue(name.c_str()), 1);

    std::uint32_t next[2] = {0, 0};
    for (const Record& bytes : receiver.Records()) {
        ASSERT_EQ(bytes.size(), sizeof(TaggedRecord));
        TaggedRecord record{};
        std::memcpy(&record, bytes.data(), sizeof record);
        ASSERT_LT(record.sender, 2u);
        ASSERT_EQ(record.sequence, next[record.sender]++) << "sender " << record.sender;
    }
    EXPECT_EQ(next[0], kEach);
    EXPECT_EQ(next[1], kEach);
}

TEST(Conduit, DestroyWaitsForTheCallbackInProgressAndStopsDelivery) {
    const std::wstring name = UniqueName(L"Destroy");
    vask::CScopedHandle entered = Event(), open = Event();
    CReceiver receiver;
    receiver.onRecord = [&] {
        SetEvent(entered.Get());
        WaitForSingleObject(open.Get(), 30000);
    };
    ASSERT_TRUE(receiver.Create(name));
    for (int i = 0; i < 3; ++i) ASSERT_EQ(Send(name), 1);
    ASSERT_EQ(WaitForSingleObject(entered.Get(), 30000), WAIT_OBJECT_0);

    std::atomic<bool> destroyed{false};
    std::thread destroyer([&] {
        EXPECT_EQ(DestroyIpcQueue(name.c_str()), 1);
        destroyed = true;
    });
    Sleep(200);
    EXPECT_FALSE(destroyed.load()) << "destroy returned while the callback ran";
    SetEvent(open.Get());
    destroyer.join();

    EXPECT_EQ(Send(name), 0);
    Sleep(100);
    EXPECT_EQ(receiver.Records().size(), 1u) << "records still queued were not delivered";
}

TEST(Conduit, DestroyFromTheCallbackItselfReturnsAndFreesTheName) {
    const std::wstring name = UniqueName(L"SelfDestroy");
    CReceiver receiver;
    vask::CScopedHandle posted = Event();
    vask::CScopedHandle done = Event();
    std::atomic<int> result{-1};
    receiver.onRecord = [&] {
        WaitForSingleObject(posted.Get(), 30000);
        result = DestroyIpcQueue(name.c_str());
        SetEvent(done.Get());
    };
    ASSERT_TRUE(receiver.Create(name));
    ASSERT_TRUE(Send(name) && Send(name));
    SetEvent(posted.Get());
    ASSERT_EQ(WaitForSingleObject(done.Get(), 30000), WAIT_OBJECT_0);
    EXPECT_EQ(result.load(), 1);
    Sleep(100);
    EXPECT_EQ(receiver.Records().size(), 1u);
    EXPECT_EQ(Send(name), 0);

    CReceiver next;
    ASSERT_TRUE(next.Create(name));
    ASSERT_EQ(Send(name), 1);
    EXPECT_TRUE(next.WaitFor(1));
    EXPECT_EQ(DestroyIpcQueue(name.c_str()), 1);
}

TEST(Conduit, NameBelongsToOneRunningProcessAndIsFreedByItsDeath) {
    const std::wstring name = UniqueName(L"Owner");
    const std::wstring events = L"Local\\TarnwickTest.ConduitOwner." + name.substr(13);
    vask::CScopedHandle ready = Event(events + L".Ready");
    vask::CScopedHandle quit = Event(events + L".Quit");
    tarnwick::test::CChildProcess child;
    ASSERT_TRUE(child.Start(L"ConduitServeAndDie", {name, events + L".Ready", events + L".Quit"}));
    ASSERT_EQ(WaitForSingleObject(ready.Get(), 30000), WAIT_OBJECT_0);

    CReceiver receiver;
    SetLastError(0);
    EXPECT_FALSE(receiver.Create(name));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    ASSERT_EQ(Send(name), 1) << "the child's queue takes records";
    SetEvent(quit.Get());
    EXPECT_EQ(child.Wait(), std::optional<DWORD>(1));
    // This process still holds the dead owner's queue open from its send. A post may still be
    // lost while the owner seems merely idle; once it has been idle a while, posts fail.
    // Twice the idle time: a sleep may end a tick short of it as GetTickCount64 counts.
    Send(name);
    Sleep(static_cast<DWORD>(2 * vask::conduit::kIdleBeforeOwnerCheckMs));
    SetLastError(0);
    EXPECT_EQ(Send(name), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    ASSERT_TRUE(receiver.Create(name));
    ASSERT_EQ(Send(name), 1);
    EXPECT_TRUE(receiver.WaitFor(1));
    EXPECT_EQ(DestroyIpcQueue(name.c_str()), 1);
}

}  // namespace
