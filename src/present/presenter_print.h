// Status words as the presenter prints them: hexadecimal, two's complement,
// 32 bits wide (-208 prints as ffffff30) whatever the type's width here.
#pragma once

#include <cstdint>

#include "platform/directmode.h"
#include "platform/gpu.h"

namespace brisk {

inline unsigned StatusHex(NvStatus status) {
    return static_cast<uint32_t>(status);
}

inline unsigned long HresultHex(HRESULT hr) {
    return static_cast<unsigned long>(static_cast<uint32_t>(hr));
}

}  // namespace brisk
