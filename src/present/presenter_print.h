// Status words as the presenters print them: hexadecimal, two's complement,
// 32 bits wide (-208 prints as ffffff30) whatever the type's width here; and
// the check every Direct3D and DXGI call of a set-up goes through.
#pragma once

#include <cstdint>

#include "platform/directmode.h"
#include "platform/gpu.h"

namespace brisk {
inline namespace BRISK_GPU_NAMESPACE {

inline unsigned StatusHex(NvStatus status) {
    return static_cast<uint32_t>(status);
}

inline unsigned long HresultHex(HRESULT hr) {
    return static_cast<unsigned long>(static_cast<uint32_t>(hr));
}

// True for a success; otherwise prints "Presenter: CALL = 0xHRESULT (line N)".
bool HrOk(HRESULT hr, const char* call, int line);

// A failed check prints the call as written at the check, with its line, and
// ends the set-up step. Keep each call's text as it should read in the log: a
// line break right after the opening parenthesis prints as "( ".
#define HR_CHECK(call)                    \
    if (!HrOk((call), #call, __LINE__)) { \
        return false;                     \
    }

}  // namespace BRISK_GPU_NAMESPACE
}  // namespace brisk
