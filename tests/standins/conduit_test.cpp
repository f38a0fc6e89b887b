// Vask.Conduit.x64.dll: queues fed from two processes at once, refused sends with their
// error codes, a full ring, one owner per name, and destruction that waits for the
// callback in progress and lets no callback through afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/vaskconduit.h"
#include "standins/common/cscopedhandle.h"
#include "support/childmode.h"
#include "support/childprocess.h"
#include "standins/startbarrier.h"

namespace {

struct TaggedRecord {
    std::uint32_t sender;
    std::uint32_t sequence;
    std::uint64_t magic;
};
constexpr std::uint64_t kMagic = 0xABCD;

std::wstring UniqueName(const wchar_t* what) {
    static int serial = 0;
    return std::wstring(L"TarnwickTest\\Conduit.") + what + L"." +
           std::to_wstring(GetCurrentProcessId()) + L"." + std::to_wstring(++serial);
}

int Send(const std::wstring& name, const void* data, std::uint32_t size,
         std::uint32_t timeoutMs = 0xFFFFFFFF) {
    return SendIpcMessage(name.c_str(), data, size, 0, 0, timeoutMs, nullptr);
}

// Collects what a queue delivers; `onRecord` (when set) runs on the delivery thread first.
class CReceiver {
  public:
    std::function<void(const std::vector<std::uint8_t>&)> onRecord;

    static void Callback(void* reserved, void* context, const void* data, std::uint32_t size) {
        auto* self = static_cast<CReceiver*>(context);
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        std::vector<std::uint8_t> record(bytes, bytes + size);
        EXPECT_EQ(reserved, nullptr);
        if (self->onRecord) self->onRecord(record);
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->records_.push_back(std::move(record));
        self->changed_.notify_all();
    }

    // Waits (up to 30 s) until `count` records have arrived; true when they have.
    bool WaitFor(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30),
                                 [&] { return records_.size() >= count; });
    }

    std::vector<std::vector<std::uint8_t>> Records() {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::vector<std::uint8_t>> records_;
};

bool Create(const std::wstring& name, CReceiver& receiver, std::uint32_t capacity = 4096) {
    return CreateIpcQueue(name.c_str(), &CReceiver::Callback, &receiver, 0, 16, capacity) != 0;
}

vask::CScopedHandle NamedEvent(const std::wstring& name) {
    return vask::CScopedHandle(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
}

}  // namespace

// args: queue name, sender tag, count, start barrier. Posts `count` tagged records as
// soon as the barrier lets it go.
TARNWICK_CHILD_MODE(ConduitSend) {
    const auto tag = static_cast<std::uint32_t>(std::stoul(args.at(1)));
    const auto count = static_cast<std::uint32_t>(std::stoul(args.at(2)));
    if (!tarnwick::test::CStartBarrier::Arrive(args.at(3))) return 2;
    for (std::uint32_t i = 0; i < count; ++i) {
        const TaggedRecord record{tag, i, kMagic};
        if (Send(args.at(0), &record, sizeof record) == 0) return 3;
    }
    return 0;
}

// args: queue name, ready event, quit event. Serves the queue, and answers the number of
// records received when told to quit: without destroying the queue, as a crash would.
TARNWICK_CHILD_MODE(ConduitServeAndDie) {
    CReceiver receiver;
    if (!Create(args.at(0), receiver)) return 100;
    vask::CScopedHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, args.at(1).c_str()));
    vask::CScopedHandle quit(OpenEventW(SYNCHRONIZE, FALSE, args.at(2).c_str()));
    if (!ready.IsValid() || !quit.IsValid()) return 101;
    SetEvent(ready.Get());
    if (WaitForSingleObject(quit.Get(), 30000) != WAIT_OBJECT_0) return 102;
    receiver.WaitFor(1);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(receiver.Records().size()));
    return 103;
}

namespace {

TEST(Conduit, QueueFedFromTwoProcessesDeliversEveryRecordOnceInOrder) {
    const std::wstring name = UniqueName(L"TwoSenders");
    CReceiver receiver;
    ASSERT_TRUE(Create(name, receiver));
    tarnwick::test::CStartBarrier barrier(L"Senders");
    constexpr std::uint32_t kEach = 3000;
    const std::wstring each = std::to_wstring(kEach);
    tarnwick::test::CChildProcess first, second;
    ASSERT_TRUE(first.Start(L"ConduitSend", {name, L"1", each, barrier.Name()}));
    ASSERT_TRUE(second.Start(L"ConduitSend", {name, L"2", each, barrier.Name()}));
    ASSERT_TRUE(barrier.Release(2));
    EXPECT_EQ(first.Wait(), std::optional<DWORD>(0));
    EXPECT_EQ(second.Wait(), std::optional<DWORD>(0));
    ASSERT_TRUE(receiver.WaitFor(2 * kEach));
    EXPECT_EQ(DestroyIpcQueue(name.c_str()), 1);

    const auto records = receiver.Records();
    EXPECT_EQ(records.size(), 2 * kEach);
    std::map<std::uint32_t, std::uint32_t> next = {{1, 0}, {2, 0}};
    bool interleaved = false;
    std::uint32_t lastSender = 0;
    for (const auto& bytes : records) {
        ASSERT_EQ(bytes.size(), sizeof(TaggedRecord));
        TaggedRecord record{};
        std::memcpy(&record, bytes.data(), sizeof record);
        ASSERT_EQ(record.magic, kMagic);
        ASSERT_EQ(next.count(record.sender), 1u);
        ASSERT_EQ(record.sequence, next[record.sender]++) << "sender " << record.sender;
        if (lastSender != 0 && lastSender != record.sender) interleaved = true;
        lastSender = record.sender;
    }
    EXPECT_EQ(next[1], kEach);
    EXPECT_EQ(next[2], kEach);
    // Not required, but shows that the two really posted at the same time.
    if (!interleaved) std::printf("note: the two senders' records did not interleave\n");
}

TEST(Conduit, RefusedSendsLeaveTheirErrorCode) {
    const std::uint8_t record[65] = {};
    const auto expectFailure = [&](const wchar_t* name, std::uint32_t size, DWORD error) {
        SetLastError(0);
        EXPECT_EQ(SendIpcMessage(name, record, size, 0, 0, 0xFFFFFFFF, nullptr), 0);
        EXPECT_EQ(GetLastError(), error) << (name ? name : L"(null)") << " " << size;
    };
    expectFailure(L"", 16, ERROR_INVALID_PARAMETER);
    expectFailure(nullptr, 16, ERROR_INVALID_PARAMETER);
    expectFailure(UniqueName(L"NoSuchQueue").c_str(), 16, ERROR_FILE_NOT_FOUND);

    const std::wstring name = UniqueName(L"Sizes");
    CReceiver receiver;
    ASSERT_TRUE(Create(name, receiver));
    expectFailure(name.c_str(), 0, ERROR_INVALID_PARAMETER);
    expectFailure(name.c_str(), 65, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(DestroyIpcQueue(name.c_str()), 1);
    expectFailure(name.c_str(), 16, ERROR_FILE_NOT_FOUND);
    SetLastError(0);
    EXPECT_EQ(DestroyIpcQueue(name.c_str()), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(CreateIpcQueue(L"", &CReceiver::Callback, &receiver, 0, 16, 16), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(Conduit, RecordsKeepTheirSizeAndBytes) {
    const std::wstring name = UniqueName(L"Bytes");
    CReceiver receiver;
    ASSERT_TRUE(Create(name, receiver));
    std::uint8_t bytes[64];
    for (int i = 0; i < 64; ++i) bytes[i] = static_cast<std::uint8_t>(0xA0 + i);
    for (std::uint32_t size : {1u, 15u, 16u, 17u, 64u}) ASSERT_EQ(Send(name, bytes, size), 1);
    ASSERT_TRUE(receiver.WaitFor(5));
    EXPECT_EQ(DestroyIpcQueue(name.c_str()), 1);
    const auto records = receiver.Records();
    const std::vector<size_t> sizes = {1, 15, 16, 17, 64};
    ASSERT_EQ(records.size(), sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i) {
        EXPECT_EQ(records[i], std::vector<std::uint8_t>(bytes, bytes + sizes[i]));
    }
}

TEST(Conduit, FullRingFailsAfterTheSendersTimeout) {
    const std::wstring name = UniqueName(L"Full");
    CReceiver receiver;
    vask::CScopedHandle entered(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    vask::CScopedHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    receiver.onRecord = [&](const std::vector<std::uint8_t>&) {
        SetEvent(entered.Get());
        WaitForSingleObject(release.Get(), 30000);
    };
    ASSERT_TRUE(Create(name, receiver, 1));
    const std::uint8_t record[16] = {};
    ASSERT_EQ(Send(name, record, 16), 1);
    ASSERT_EQ(WaitForSingleObject(entered.Get(), 30000), WAIT_OBJECT_0);
    ASSERT_EQ(Send(name, record, 16), 1) << "the ring's one place";
    SetLastError(0);
    EXPECT_EQ(Send(name, record, 16, 50), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
    SetEvent(release.Get());
    EXPECT_TRUE(receiver.WaitFor(2));
    EXPECT_EQ(DestroyIpcQueue(name.c_str()), 1);
}

TEST(Conduit, DestroyWaitsForTheCallbackInProgressAndStopsDelivery) {
    const std::wstring name = UniqueName(L"Destroy");
    CReceiver receiver;
    vask::CScopedHandle entered(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    vask::CScopedHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    receiver.onRecord = [&](const std::vector<std::uint8_t>&) {
        SetEvent(entered.Get());
        WaitForSingleObject(release.Get(), 30000);
    };
    ASSERT_TRUE(Create(name, receiver));
    const std::uint8_t record[16] = {};
    for (int i = 0; i < 3; ++i) ASSERT_EQ(Send(name, record, 16), 1);
    ASSERT_EQ(WaitForSingleObject(entered.Get(), 30000), WAIT_OBJECT_0);

    std::atomic<bool> destroyed{false};
    std::thread destroyer([&] {
        EXPECT_EQ(DestroyIpcQueue(name.c_str()), 1);
        destroyed = true;
    });
    Sleep(200);
    EXPECT_FALSE(destroyed.load()) << "destroy returned while the callback ran";
    SetEvent(release.Get());
    destroyer.join();
    EXPECT_TRUE(destroyed.load());

    EXPECT_EQ(Send(name, record, 16), 0);
    Sleep(100);
    EXPECT_EQ(receiver.Records().size(), 1u) << "records still queued were not delivered";
}

TEST(Conduit, DestroyFromTheCallbackItselfReturns) {
    const std::wstring name = UniqueName(L"SelfDestroy");
    CReceiver receiver;
    vask::CScopedHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::atomic<int> result{-1};
    receiver.onRecord = [&](const std::vector<std::uint8_t>&) {
        result = DestroyIpcQueue(name.c_str());
        SetEvent(done.Get());
    };
    ASSERT_TRUE(Create(name, receiver));
    const std::uint8_t record[16] = {};
    ASSERT_EQ(Send(name, record, 16), 1);
    ASSERT_EQ(Send(name, record, 16), 1);
    ASSERT_EQ(WaitForSingleObject(done.Get(), 30000), WAIT_OBJECT_0);
    EXPECT_EQ(result.load(), 1);
    Sleep(100);
    EXPECT_EQ(receiver.Records().size(), 1u);
    EXPECT_EQ(Send(name, record, 16), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    // The name is free again, in this process as in any other.
    CReceiver next;
    ASSERT_TRUE(Create(name, next));
    ASSERT_EQ(Send(name, record, 16), 1);
    EXPECT_TRUE(next.WaitFor(1));
    EXPECT_EQ(DestroyIpcQueue(name.c_str()), 1);
}

TEST(Conduit, NameBelongsToOneRunningProcessAndIsFreedByItsDeath) {
    const std::wstring name = UniqueName(L"Owner");
    const std::wstring events = L"Local\\TarnwickTest.ConduitOwner." + name.substr(13);
    vask::CScopedHandle ready = NamedEvent(events + L".Ready");
    vask::CScopedHandle quit = NamedEvent(events + L".Quit");
    tarnwick::test::CChildProcess child;
    ASSERT_TRUE(child.Start(L"ConduitServeAndDie", {name, events + L".Ready", events + L".Quit"}));
    ASSERT_EQ(WaitForSingleObject(ready.Get(), 30000), WAIT_OBJECT_0);

    CReceiver receiver;
    SetLastError(0);
    EXPECT_FALSE(Create(name, receiver));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    const std::uint8_t record[16] = {};
    ASSERT_EQ(Send(name, record, 16), 1) << "the child's queue takes records";
    SetEvent(quit.Get());
    EXPECT_EQ(child.Wait(), std::optional<DWORD>(1));

    // This process still holds the dead owner's queue open from its send.
    ASSERT_TRUE(Create(name, receiver));
    ASSERT_EQ(Send(name, record, 16), 1);
    EXPECT_TRUE(receiver.WaitFor(1));
    EXPECT_EQ(DestroyIpcQueue(name.c_str()), 1);
    EXPECT_EQ(receiver.Records().size(), 1u);
}

}  // namespace
