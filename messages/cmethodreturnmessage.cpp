#include "messages/cmethodreturnmessage.h"

namespace tarnwick {
namespace {

constexpr const wchar_t* kNotApplicable = L"(not applicable)";

}  // namespace

CMethodReturnMessage::CMethodReturnMessage()
    : firstText_(kNotApplicable),
      secondText_(kNotApplicable),
      thirdText_(kNotApplicable),
      fourthText_(L""),
      fifthText_(L"") {}

}  // namespace tarnwick
