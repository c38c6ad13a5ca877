#include "platform/trace/Timeline.h"

#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

using namespace Platform;

TEST(Timeline, EventsFromManyThreadsReachTheSinkOneAtATime)
{
    int delivered = 0; // deliberately unsynchronised: the sink is never entered twice at once
    std::atomic<int> inside { 0 };
    std::atomic<bool> overlapped { false };
    setTimelineSink([&](std::string_view) {
        if (inside.fetch_add(1) != 0)
            overlapped = true;
        ++delivered;
        inside.fetch_sub(1);
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 2000; ++i)
                timeline("event");
        });
    }
    for (auto& thread : threads)
        thread.join();
    setTimelineSink(nullptr);
    EXPECT_EQ(delivered, 8000);
    EXPECT_FALSE(overlapped);
}

TEST(Timeline, ReplacedSinkIsNeverCalledAgainAndNoSinkIsANoOp)
{
    timeline("nobody listens");
    std::atomic<bool> stop { false };
    std::thread emitter([&] {
        while (!stop)
            timeline("tick");
    });
    for (int round = 0; round < 50; ++round) {
        auto alive = std::make_shared<std::atomic<bool>>(true);
        setTimelineSink([alive](std::string_view) { EXPECT_TRUE(alive->load()); });
        setTimelineSink(nullptr);
        alive->store(false);
    }
    stop = true;
    emitter.join();
}

TEST(Timeline, SinkMayEmitEventsItself)
{
    std::vector<std::string> events;
    setTimelineSink([&](std::string_view event) {
        events.emplace_back(event);
        if (event == "outer")
            timeline("inner");
    });
    timeline("outer");
    setTimelineSink(nullptr);
    EXPECT_EQ(events, (std::vector<std::string> { "outer", "inner" }));
}
