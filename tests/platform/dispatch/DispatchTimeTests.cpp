#include "platform/dispatch/DispatchOnce.h"
#include "platform/dispatch/DispatchTime.h"

#include <atomic>
#include <cfloat>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <thread>
#include <vector>

using namespace Platform;

namespace {
constexpr int64_t int64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t int64Min = std::numeric_limits<int64_t>::min();
} // namespace

TEST(SecondsToNanoseconds, ExactValues)
{
    EXPECT_EQ(secondsToNanoseconds(0.5f), 500000000);
    EXPECT_EQ(secondsToNanoseconds(1.0f), 1000000000);
    EXPECT_EQ(secondsToNanoseconds(0.0f), 0);
    EXPECT_EQ(secondsToNanoseconds(-0.0f), 0);
    EXPECT_EQ(secondsToNanoseconds(-2.5f), -2500000000);
}

TEST(SecondsToNanoseconds, MultipliesInSinglePrecision)
{
    // 0.1f * 1e9f rounds to the float 100000000 exactly; double arithmetic on 0.1f would
    // give 100000001.49...
    EXPECT_EQ(secondsToNanoseconds(0.1f), 100000000);
    // 1.1f * 1e9f is 1100000000.0f; in double it would be 1100000023.84...
    EXPECT_EQ(secondsToNanoseconds(1.1f), 1100000000);
    // 0.3f * 1e9f = 300000000 as a float, though 0.3f itself is 0.300000011920928955078125.
    EXPECT_EQ(secondsToNanoseconds(0.3f), 300000000);
}

TEST(SecondsToNanoseconds, TruncatesTowardZero)
{
    EXPECT_EQ(secondsToNanoseconds(1e-9f), 1); // the float product is exactly 1.0f
    EXPECT_EQ(secondsToNanoseconds(1.5e-9f), 1);
    EXPECT_EQ(secondsToNanoseconds(-1.5e-9f), -1);
    EXPECT_EQ(secondsToNanoseconds(0.001f), 1000000); // product 1000000.0625f
    EXPECT_EQ(secondsToNanoseconds(2.3f), 2300000000); // double arithmetic would give 2299999952
}

TEST(SecondsToNanoseconds, SaturatesLikeTheDeviceCpu)
{
    EXPECT_EQ(secondsToNanoseconds(1e10f), int64Max); // 1e19 ns > 2^63
    EXPECT_EQ(secondsToNanoseconds(1e19f), int64Max);
    EXPECT_EQ(secondsToNanoseconds(FLT_MAX), int64Max);
    EXPECT_EQ(secondsToNanoseconds(INFINITY), int64Max);
    EXPECT_EQ(secondsToNanoseconds(-1e19f), int64Min);
    EXPECT_EQ(secondsToNanoseconds(-FLT_MAX), int64Min);
    EXPECT_EQ(secondsToNanoseconds(-INFINITY), int64Min);
    EXPECT_EQ(secondsToNanoseconds(NAN), 0);
    EXPECT_EQ(secondsToNanoseconds(-NAN), 0);
    // This product rounds to exactly 2^63 in single precision: one past INT64_MAX.
    EXPECT_EQ(secondsToNanoseconds(9223372036.854775808f), int64Max);
    EXPECT_EQ(secondsToNanoseconds(-9223372036.854775808f), int64Min);
    // Large but in range: 4e9 s is 4e18 ns, exact in single precision.
    EXPECT_EQ(secondsToNanoseconds(4e9f), static_cast<int64_t>(4e18f));
}

TEST(DispatchOnce, RunsExactlyOnceAcrossManyThreads)
{
    OnceFlag flag;
    std::atomic<int> runs { 0 };
    std::atomic<int> sawDone { 0 };
    std::vector<std::thread> threads;
    for (int i = 0; i < 16; ++i) {
        threads.emplace_back([&] {
            dispatchOnce(flag, [&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                ++runs;
            });
            // No caller returns before the block has finished.
            if (runs.load() == 1)
                ++sawDone;
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(runs.load(), 1);
    EXPECT_EQ(sawDone.load(), 16);
    EXPECT_TRUE(flag.hasRun());
}
