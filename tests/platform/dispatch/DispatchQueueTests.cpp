#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchTime.h"
#include "platform/dispatch/MainQueue.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace Platform;

namespace {

constexpr int64_t oneSecond = nanosecondsPerSecond;
constexpr int64_t oneMillisecond = 1'000'000;
constexpr int64_t maxTime = std::numeric_limits<int64_t>::max();

class VirtualQueueTest : public testing::Test {
protected:
    DispatchQueue m_queue { ClockKind::Virtual };
    std::vector<std::string> m_ran;

    DispatchQueue::Task record(std::string name)
    {
        return [this, name = std::move(name)] { m_ran.push_back(name); };
    }
};

using Names = std::vector<std::string>;

} // namespace

TEST_F(VirtualQueueTest, AfterFiresAtItsDeadlineAndNotBefore)
{
    m_queue.after(oneSecond, record("timer"));
    m_queue.advanceBy(999 * oneMillisecond);
    EXPECT_TRUE(m_ran.empty());
    EXPECT_EQ(m_queue.pendingCount(), 1u);
    m_queue.advanceBy(oneMillisecond);
    EXPECT_EQ(m_ran, Names { "timer" });
    EXPECT_EQ(m_queue.now(), oneSecond);
}

TEST_F(VirtualQueueTest, EqualDeadlinesRunInSubmissionOrder)
{
    for (auto name : { "a", "b", "c", "d" })
        m_queue.after(oneSecond, record(name));
    m_queue.async(record("now"));
    m_queue.advanceBy(oneSecond);
    EXPECT_EQ(m_ran, (Names { "now", "a", "b", "c", "d" }));
}

TEST_F(VirtualQueueTest, ZeroAndNegativeDelaysQueueBehindWorkAlreadyDue)
{
    m_queue.async(record("first"));
    m_queue.after(0, record("zero"));
    m_queue.after(-5 * oneSecond, record("negative"));
    m_queue.after(std::numeric_limits<int64_t>::min(), record("most negative"));
    m_queue.async(record("last"));
    EXPECT_EQ(m_queue.runUntilIdle(), 5u);
    EXPECT_EQ(m_ran, (Names { "first", "zero", "negative", "most negative", "last" }));
}

TEST_F(VirtualQueueTest, NegativeDelayLaterInTimeDoesNotJumpAheadOfEarlierDueWork)
{
    // A task due at 1 s is still queued when the clock is at 2 s: it is older and runs first.
    m_queue.after(oneSecond, record("timer"));
    m_queue.setNow(2 * oneSecond);
    m_queue.after(-oneSecond, record("negative"));
    m_queue.runUntilIdle();
    EXPECT_EQ(m_ran, (Names { "timer", "negative" }));
}

TEST_F(VirtualQueueTest, DelayPastTheEndOfTimeNeverRuns)
{
    m_queue.after(maxTime, record("forever"));
    EXPECT_EQ(m_queue.pendingCount(), 0u);
    m_queue.advanceTo(maxTime);
    EXPECT_TRUE(m_ran.empty());

    // Once the clock has moved, a smaller delay can overflow too.
    DispatchQueue queue(ClockKind::Virtual);
    queue.setNow(5 * oneSecond);
    bool ran = false;
    queue.after(maxTime - oneSecond, [&] { ran = true; });
    queue.after(maxTime, [&] { ran = true; });
    queue.advanceTo(maxTime);
    EXPECT_FALSE(ran);
    EXPECT_EQ(queue.now(), maxTime);
}

TEST_F(VirtualQueueTest, DelayEndingJustBeforeForeverStillRuns)
{
    m_queue.setNow(oneSecond);
    m_queue.after(maxTime - oneSecond, record("forever"));
    m_queue.after(maxTime - oneSecond - 1, record("edge"));
    EXPECT_EQ(m_queue.pendingCount(), 1u);
    EXPECT_EQ(m_queue.nextDeadline(), maxTime - 1);
    m_queue.advanceTo(maxTime);
    EXPECT_EQ(m_ran, Names { "edge" });
}

TEST_F(VirtualQueueTest, RunUntilIdleRunsWorkPostedDueNowButNotLaterWork)
{
    m_queue.async([this] {
        m_ran.push_back("outer");
        m_queue.async([this] {
            m_ran.push_back("inner");
            m_queue.after(0, record("innermost"));
        });
        m_queue.after(oneMillisecond, record("later"));
    });
    m_queue.runUntilIdle();
    EXPECT_EQ(m_ran, (Names { "outer", "inner", "innermost" }));
    EXPECT_EQ(m_queue.pendingCount(), 1u);
    EXPECT_EQ(m_queue.nextDeadline(), oneMillisecond);
}

TEST_F(VirtualQueueTest, AdvanceToRunsEachTaskWithTheClockAtItsDeadline)
{
    std::vector<int64_t> seen;
    m_queue.after(2 * oneSecond, [&] { seen.push_back(m_queue.now()); });
    m_queue.after(oneSecond, [&] {
        seen.push_back(m_queue.now());
        // Posted at 1 s with 1.5 s delay: due at 2.5 s, after the 2 s task.
        m_queue.after(1500 * oneMillisecond, [&] { seen.push_back(m_queue.now()); });
        m_queue.async([&] { seen.push_back(m_queue.now()); });
    });
    m_queue.advanceTo(3 * oneSecond);
    EXPECT_EQ(seen, (std::vector<int64_t> { oneSecond, oneSecond, 2 * oneSecond, 2500 * oneMillisecond }));
    EXPECT_EQ(m_queue.now(), 3 * oneSecond);
}

TEST_F(VirtualQueueTest, AdvancingFromInsideATaskKeepsTheClockMovingForward)
{
    m_queue.after(oneSecond, [this] { m_queue.advanceBy(5 * oneSecond); });
    m_queue.after(3 * oneSecond, record("at three"));
    m_queue.advanceTo(2 * oneSecond);
    EXPECT_EQ(m_ran, Names { "at three" });
    EXPECT_EQ(m_queue.now(), 6 * oneSecond);
}

TEST_F(VirtualQueueTest, ClockNeverMovesBackwards)
{
    m_queue.setNow(oneSecond);
    EXPECT_THROW(m_queue.setNow(0), std::logic_error);
    EXPECT_THROW(m_queue.advanceTo(0), std::logic_error);
    EXPECT_THROW(m_queue.advanceBy(-1), std::logic_error);
    EXPECT_EQ(m_queue.now(), oneSecond);
    m_queue.advanceBy(maxTime); // saturates instead of overflowing
    EXPECT_EQ(m_queue.now(), maxTime);
}

TEST_F(VirtualQueueTest, ExceptionFromATaskPropagatesAndLeavesTheQueueUsable)
{
    m_queue.async([] { throw std::runtime_error("task failed"); });
    m_queue.async(record("after the failure"));
    EXPECT_THROW(m_queue.runUntilIdle(), std::runtime_error);
    m_queue.runUntilIdle();
    EXPECT_EQ(m_ran, Names { "after the failure" });
}

TEST(DispatchQueue, VirtualClockOperationsNeedTheVirtualClock)
{
    DispatchQueue queue(ClockKind::Monotonic);
    EXPECT_THROW(queue.advanceBy(1), std::logic_error);
    EXPECT_THROW(queue.setNow(queue.now() + oneSecond), std::logic_error);
}

TEST(DispatchQueue, PostFromAnotherThreadWakesARealClockLoop)
{
    DispatchQueue queue(ClockKind::Monotonic);
    std::thread::id ranOn;
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        queue.async([&] {
            ranOn = std::this_thread::get_id();
            queue.stop();
        });
    });
    // Without the wake-up, run() would sleep forever: the test's timeout is the bound.
    queue.run();
    poster.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(DispatchQueue, RealClockRunsTimersAndRunOnceGivesUp)
{
    DispatchQueue queue(ClockKind::Monotonic);
    std::vector<int> order;
    int64_t posted = queue.now();
    queue.after(20 * oneMillisecond, [&] { order.push_back(2); });
    queue.after(10 * oneMillisecond, [&] { order.push_back(1); });
    queue.after(30 * oneMillisecond, [&] { queue.stop(); });
    queue.run();
    EXPECT_EQ(order, (std::vector<int> { 1, 2 }));
    EXPECT_GE(queue.now() - posted, 30 * oneMillisecond);

    EXPECT_FALSE(queue.runOnce(10 * oneMillisecond));
    std::thread poster([&] { queue.async([] {}); });
    EXPECT_TRUE(queue.runOnce(10 * oneSecond));
    poster.join();
}

TEST(DispatchQueue, StopFromAnotherThreadEndsRun)
{
    DispatchQueue queue(ClockKind::Virtual);
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        queue.stop();
    });
    queue.run();
    stopper.join();
}

TEST(MainQueue, ResetGivesAFreshQueueOnTheRequestedClock)
{
    resetMainQueue(ClockKind::Virtual);
    EXPECT_EQ(mainQueue().clockKind(), ClockKind::Virtual);
    bool ran = false;
    mainQueue().after(oneSecond, [&] { ran = true; });
    resetMainQueue(ClockKind::Virtual);
    EXPECT_EQ(mainQueue().pendingCount(), 0u);
    mainQueue().advanceBy(2 * oneSecond);
    EXPECT_FALSE(ran);
    resetMainQueue(ClockKind::Monotonic);
    EXPECT_EQ(mainQueue().clockKind(), ClockKind::Monotonic);
}
