#pragma once
// The library's own steps of one raised event, each timed in isolation in this process with
// the library's own classes: what a round trip costs besides the transport and the peer.

#include <string>
#include <vector>

#include "messagetypes.h"

namespace tarnwick {
class IInvokeManagementService;
}

namespace tarnwick::bench {

struct RaiseStep {
    std::string name;
    double microseconds = 0;  // one run of the step, median of the rounds
    int perQueueRaise = 0;    // how often one raise runs it over each transport
    int perWindowRaise = 0;
    double kernelCalls = 0;  // counted in one run of the step, median of the rounds
};

class CRaiseSteps {
  public:
    // service: a service with a subscriber filed under address for the event "Click".
    CRaiseSteps(IInvokeManagementService& service, const ReturnAddressRecord& address);

    // Times every step count times more; false when one of them failed.
    bool TimeRound(int count);
    // Each step with the median of its rounds.
    std::vector<RaiseStep> Steps() const;

  private:
    IInvokeManagementService& service_;
    ReturnAddressRecord address_;
    std::vector<std::vector<double>> runs_;
    std::vector<std::vector<double>> calls_;
};

}  // namespace tarnwick::bench
