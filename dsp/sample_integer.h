#pragma once

#include <cmath>
#include <cstdint>

// Returns a sample as the 32-bit integer that exports write for it: truncated toward zero,
// values beyond the 32-bit range taking its nearest end, NaN giving 0.
inline std::int32_t SampleToInt32(float value) {
    if (std::isnan(value))
        return 0;
    if (value >= 2147483648.0f)
        return INT32_MAX;
    if (value < -2147483648.0f)
        return INT32_MIN;
    return static_cast<std::int32_t>(value);
}
