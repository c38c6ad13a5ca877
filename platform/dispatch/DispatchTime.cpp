#include "platform/dispatch/DispatchTime.h"

#include <cmath>
#include <limits>

namespace Platform {

int64_t secondsToNanoseconds(float seconds)
{
    // volatile keeps the product in single precision whatever the optimiser would prefer.
    volatile float product = seconds * 1000000000.0f;
    float value = product;
    if (std::isnan(value))
        return 0;
    // 2^63 is exactly representable as a float; every float below it converts without overflow.
    constexpr float twoToThe63 = 9223372036854775808.0f;
    if (value >= twoToThe63)
        return std::numeric_limits<int64_t>::max();
    if (value <= -twoToThe63)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

} // namespace Platform
