#include "agent/cqueuegate.h"

#include <bcrypt.h>

#include <cstring>
#include <cwchar>
#include <utility>

#include "platform/vaskconduit.h"
#include "platform/vaskreservoir.h"
#include "standins/common/debugtrace.h"

namespace vask {
namespace {

constexpr const wchar_t* kComponent = L"hookhost agent queue";
constexpr std::uint32_t kRecordSize = 16;  // magic (64-bit), block handle, tag
constexpr std::uint32_t kCapacity = 4096;
constexpr std::uint32_t kPostTimeoutMs = 0xFFFFFFFF;
// In a message block: the kind (16-bit) at byte 2; a return address (kind 0x4001) holds its
// queue name, UTF-16 and terminated, from byte 8.
constexpr std::uint32_t kKindOffset = 2;
constexpr std::uint16_t kReturnAddressKind = 0x4001;
constexpr std::uint32_t kAddressOffset = 8;

std::wstring RandomSuffix() {
    std::uint64_t value = 0;
    BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&value), sizeof value,
                    BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    wchar_t text[24] = {};
    std::swprintf(text, 24, L".%016llX", static_cast<unsigned long long>(value));
    return text;
}

}  // namespace

CQueueGate::CQueueGate(std::wstring publicName)
    : publicName_(std::move(publicName)), innerName_(publicName_ + RandomSuffix()) {
    open_ = CreateIpcQueue(publicName_.c_str(), &CQueueGate::Receive, this, 0, kRecordSize,
                           kCapacity) != 0;
    if (!open_) DebugTrace(kComponent, L"queue %ls not made (error %lu)", publicName_.c_str(),
                           GetLastError());
}

CQueueGate::~CQueueGate() {
    if (open_) DestroyIpcQueue(publicName_.c_str());
}

void CQueueGate::Admit(std::wstring hostQueue) {
    const std::lock_guard lock(mutex_);
    admitted_ = std::move(hostQueue);
}

void CQueueGate::Receive(void*, void* context, const void* data, std::uint32_t size) {
    auto* gate = static_cast<CQueueGate*>(context);
    if (gate == nullptr || data == nullptr || size != kRecordSize) return;
    std::uint32_t block = 0;
    std::memcpy(&block, static_cast<const std::uint8_t*>(data) + 8, sizeof block);
    if (!gate->Passes(block)) return;
    if (SendIpcMessage(gate->innerName_.c_str(), data, size, 0, 0, kPostTimeoutMs, nullptr) == 0) {
        DebugTrace(kComponent, L"record of block %u not passed on (error %lu)", block,
                   GetLastError());
    }
}

bool CQueueGate::Passes(std::uint32_t block) {
    std::uint32_t size = 0;
    const auto* bytes =
        static_cast<const std::uint8_t*>(OpenSharedMemory(block, &size, __LINE__, "cqueuegate"));
    if (bytes == nullptr) return true;  // the service behind traces it
    std::uint16_t kind = 0;
    if (size >= kKindOffset + sizeof kind) std::memcpy(&kind, bytes + kKindOffset, sizeof kind);
    bool passes = kind != kReturnAddressKind;
    std::wstring named;
    if (!passes && size > kAddressOffset) {
        const size_t units = (size - kAddressOffset) / sizeof(wchar_t);
        named.resize(units);
        std::memcpy(named.data(), bytes + kAddressOffset, units * sizeof(wchar_t));
        named.resize(wcsnlen(named.c_str(), units));
        const std::lock_guard lock(mutex_);
        passes = !admitted_.empty() && named == admitted_;
    }
    FreeSharedMemory(block);  // the reference Open took
    if (!passes) {
        DebugTrace(kComponent, L"return address \"%ls\" is not the attached host's: refused",
                   named.c_str());
        while (FreeSharedMemory(block) > 0) {
        }
    }
    return passes;
}

}  // namespace vask
