#pragma once
// The subscriber's side of an event subscription: raising the event sends it back to the
// subscriber through the service that received the subscription, and waits for the answer,
// asking the user whether to keep waiting each time a wait period passes without one. A wait
// whose peer's process has ended (as far as the transport can tell) ends without asking.

#include <windows.h>
#include <wrl/client.h>

#include <cstdint>

#include "cbstrholder.h"
#include "iinvokemanagementservice.h"
#include "iipcinvoke.h"
#include "messagetypes.h"

namespace tarnwick {

class IPeerPresence;

class CEventProxy final : public IIpcInvoke {
  public:
    // How the user is asked whether to keep waiting: MessageBoxW's signature.
    using PromptFunction = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);

    static constexpr DWORD kWaitPeriodMs = 60000;
    // How often a wait that lasts asks the transport whether the peer's process has ended.
    static constexpr DWORD kPeerCheckMs = 100;
    static constexpr const wchar_t* kTimeoutText =
        L"Timeout waiting for response to last invocation.  Click Retry to keep waiting, or "
        L"Cancel to discontinue";
    static constexpr const wchar_t* kTimeoutCaption = L"Timeout";

    // A proxy for the subscriber at address, with the subscription's target key and tag. The
    // service is not owned and must outlive the proxy. The pointer answered holds the only
    // reference.
    static Microsoft::WRL::ComPtr<CEventProxy> Create(const ReturnAddressRecord& address,
                                                      const TargetKey& targetKey,
                                                      const CBstrHolder& subscriptionTag,
                                                      IInvokeManagementService* service);

    CEventProxy(const CEventProxy&) = delete;
    CEventProxy& operator=(const CEventProxy&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // Arguments beyond what a raised-event block holds are refused: nothing is sent or moved,
    // and the answer is an empty interface pointer, as when no return arrives.
    VARIANT STDMETHODCALLTYPE Invoke(const wchar_t* memberName, VARIANT* arguments, int count,
                                     std::uint64_t target) override;

    const ReturnAddressRecord& GetReturnAddress() const noexcept { return returnAddress_; }
    const TargetKey& GetTargetKey() const noexcept { return targetKey_; }
    const CBstrHolder& GetSubscriptionTag() const noexcept { return subscriptionTag_; }
    IInvokeManagementService* GetService() const noexcept { return service_; }

    // Test seam: a shorter wait period and a prompt that answers by itself. The product
    // waits kWaitPeriodMs and asks with MessageBoxW.
    void SetTimeoutPromptForTesting(DWORD periodMs, PromptFunction prompt) noexcept {
        waitPeriodMs_ = periodMs;
        prompt_ = prompt;
    }

  private:
    CEventProxy(const ReturnAddressRecord& address, const TargetKey& targetKey,
                const CBstrHolder& subscriptionTag, IInvokeManagementService* service) noexcept;
    ~CEventProxy() = default;

    enum class WaitOutcome { Returned, PeerEnded, PeriodOver };

    void WaitForReturn(IInvokeWait& wait) const;
    WaitOutcome WaitOnePeriod(IInvokeWait& wait) const;

    LONG references_ = 0;
    ReturnAddressRecord returnAddress_;
    CBstrHolder subscriptionTag_;
    TargetKey targetKey_;
    IInvokeManagementService* service_;
    // The service as one that can tell whether the peer has ended; or null.
    IPeerPresence* transport_;
    DWORD waitPeriodMs_ = kWaitPeriodMs;
    PromptFunction prompt_ = &MessageBoxW;
};

}  // namespace tarnwick
