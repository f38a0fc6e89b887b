#pragma once
// What an event proxy asks of the service it raises through, beside IInvokeManagementService:
// whether the peer's process has ended, so that a raise still waiting returns without asking
// the user. The library's services answer it; a service that does not is never asked.

namespace tarnwick {

class IPeerPresence {
  public:
    // True when the peer's process has ended, so that nothing will answer a raise still
    // waiting; false while it lives or when the transport cannot tell.
    virtual bool PeerEnded() = 0;

  protected:
    ~IPeerPresence() = default;
};

}  // namespace tarnwick
