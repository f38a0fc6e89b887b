#pragma once
// The stand-alone return message of the exported model. The library never makes one itself.

#include <cstdint>

#include "cbstrholder.h"
#include "imessagebase.h"

namespace tarnwick {

class CMethodReturnMessage final : public IMethodReturnMessage {
public:
    // The three first texts read "(not applicable)", the two others are empty; raises
    // CComError when they cannot be made.
    CMethodReturnMessage();
    CMethodReturnMessage(const CMethodReturnMessage&) = delete;
    CMethodReturnMessage& operator=(const CMethodReturnMessage&) = delete;
    ~CMethodReturnMessage() = default;

    void Reserved() override {}
    std::uint32_t& GetFirstValue() override { return firstValue_; }
    std::uint32_t& GetSecondValue() override { return secondValue_; }
    CBstrHolder& GetFirstText() override { return firstText_; }
    CBstrHolder& GetSecondText() override { return secondText_; }
    CBstrHolder& GetThirdText() override { return thirdText_; }
    std::uint32_t& GetThirdValue() override { return thirdValue_; }
    CBstrHolder& GetFourthText() override { return fourthText_; }
    CBstrHolder& GetFifthText() override { return fifthText_; }
    VARIANT& GetValue() override { return value_; }
    std::uint32_t& GetLastValue() override { return lastValue_; }
    std::uint64_t GetWideValue() override { return wideValue_; }

private:
    std::uint32_t firstValue_ = 0;
    std::uint32_t secondValue_ = 0;
    CBstrHolder firstText_;
    CBstrHolder secondText_;
    CBstrHolder thirdText_;
    std::uint32_t thirdValue_ = 0;
    CBstrHolder fourthText_;
    CBstrHolder fifthText_;
    VARIANT value_{};
    std::uint64_t wideValue_ = 0;
    std::uint32_t lastValue_ = 0;
};

}  // namespace tarnwick
