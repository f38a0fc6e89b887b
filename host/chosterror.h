#pragma once
// A command that failed; the message says why.

#include <string>

namespace tarnwick::host {

struct CHostError {
    std::wstring message;
};

}  // namespace tarnwick::host
