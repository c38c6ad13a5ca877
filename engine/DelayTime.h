// The engine's delays: a number of seconds from the settings, as the main queue's time.
#pragma once

#include "platform/foundation/PlatformCalls.h"

#include <cstdint>

// seconds * 1e9 in single precision, truncated toward zero. A product that does not fit
// saturates as ARM64's fcvtzs does: at or above 2^63 gives INT64_MAX, at or below -2^63
// INT64_MIN, and NaN gives 0.
int64_t nanosecondsFromSeconds(float seconds);

// That many seconds from now on the main queue's clock; DISPATCH_TIME_FOREVER for a delay too
// long for the clock, now for one of zero or less.
dispatch_time_t dispatchTimeAfterSeconds(float seconds);
