#pragma once
// One error record per calling thread, handed out by a service as its IIpcErrorInfo.

#include <windows.h>

#include <cstdint>
#include <map>

#include "iipcerrorinfo.h"
#include "remoting/ccriticalsection.h"

namespace tarnwick {

struct ThreadErrorRecord {
    std::uint32_t code = 0;
};

class CThreadBoundStorage final : public IIpcErrorInfo {
  public:
    CThreadBoundStorage();
    CThreadBoundStorage(const CThreadBoundStorage&) = delete;
    CThreadBoundStorage& operator=(const CThreadBoundStorage&) = delete;
    ~CThreadBoundStorage() = default;

    // The calling thread's code; its record is made (zeroed) on the first call.
    std::uint32_t GetLastIpcError() override;

    size_t RecordCount() const;

  private:
    std::map<std::uint32_t, ThreadErrorRecord> records_;
    CCriticalSection guard_;
};

}  // namespace tarnwick
