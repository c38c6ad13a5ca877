#include "engine/DelayTime.h"

int64_t nanosecondsFromSeconds(float seconds)
{
    // volatile keeps the product in single precision whatever the optimiser would prefer.
    volatile float product = seconds * 1000000000.0f;
    float value = product;
    if (value != value)
        return 0;
    // 2^63 is exactly representable as a float; every float below it converts without overflow.
    constexpr float twoToThe63 = 9223372036854775808.0f;
    if (value >= twoToThe63)
        return INT64_MAX;
    if (value <= -twoToThe63)
        return INT64_MIN;
    return static_cast<int64_t>(value);
}

dispatch_time_t dispatchTimeAfterSeconds(float seconds)
{
    return dispatch_time(DISPATCH_TIME_NOW, nanosecondsFromSeconds(seconds));
}
