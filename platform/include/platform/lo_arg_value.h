#pragma once

#include <lo/lo.h>

#include <cstring>

namespace platform {

// liblo hands out arguments that point into the message, aligned to four bytes only, while its
// lo_arg union holds 64-bit members: reading through the union is undefined behaviour. The
// value is copied out of the bytes instead.
template <typename T>
T LoArgValue(const lo_arg* arg) {
    T value{};
    std::memcpy(&value, arg, sizeof value);
    return value;
}

inline const char* LoArgText(const lo_arg* arg) {
    return reinterpret_cast<const char*>(arg);
}

}  // namespace platform
