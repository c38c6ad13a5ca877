// Time arithmetic of the dispatch stand-in: the conversion from seconds that the system
// uses for its delays, with the device CPU's behaviour at the edges.
#pragma once

#include <cstdint>

namespace Platform {

constexpr int64_t nanosecondsPerSecond = 1'000'000'000;

// seconds * 1e9 computed in single precision, then truncated toward zero. A product that
// does not fit saturates as ARM64's fcvtzs does: at or above 2^63 gives INT64_MAX, at or
// below -2^63 gives INT64_MIN, and NaN gives 0.
int64_t secondsToNanoseconds(float seconds);

} // namespace Platform
