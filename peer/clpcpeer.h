#pragma once
// The peer over IPC queues: it owns a named receive queue, posts its records to the target's
// queue, and waits for each reply on its own queue. The target learns where replies go from
// Announce.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "peer/cpeer.h"

namespace tarnwick {

class CLpcPeer final : public CPeer {
  public:
    // Creates the own queue; Created() tells whether that worked.
    CLpcPeer(std::wstring ownQueue, std::wstring targetQueue);
    // Destroys the queue first, so that no record arrives while the peer goes away.
    ~CLpcPeer() override;

    bool Created() const noexcept { return created_; }
    const std::wstring& OwnQueue() const noexcept { return ownQueue_; }
    // Sends the return-address message with the own queue name; false when it could not be
    // posted.
    bool Announce();

  protected:
    Delivery Exchange(const InvokeRecord& call, Cookie cookie, std::uint32_t& replyBlock) override;

  private:
    struct PendingReply {
        std::uint32_t block = 0;
        bool arrived = false;
    };

    static void Receive(void* reserved, void* context, const void* data, std::uint32_t size);
    void OnRecord(const InvokeRecord& record);
    // A reply, handed to the request with its cookie.
    void OnReply(const InvokeRecord& record, Cookie cookie);
    bool Post(const InvokeRecord& record) const;

    std::wstring ownQueue_;
    std::wstring targetQueue_;
    bool created_ = false;
    std::mutex mutex_;
    std::condition_variable replied_;
    std::unordered_map<Cookie, std::shared_ptr<PendingReply>> pending_;
};

}  // namespace tarnwick
