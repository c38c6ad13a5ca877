// Collects the timeline events emitted while it lives.
#pragma once

#include "platform/trace/Timeline.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

class TimelineRecorder {
public:
    TimelineRecorder()
    {
        Platform::setTimelineSink([this](std::string_view event) {
            std::lock_guard guard(m_lock);
            m_events.emplace_back(event);
        });
    }
    ~TimelineRecorder() { Platform::setTimelineSink(nullptr); }
    TimelineRecorder(const TimelineRecorder&) = delete;
    TimelineRecorder& operator=(const TimelineRecorder&) = delete;

    std::vector<std::string> events() const
    {
        std::lock_guard guard(m_lock);
        return m_events;
    }

    bool contains(std::string_view event) const
    {
        auto all = events();
        return std::find(all.begin(), all.end(), event) != all.end();
    }

private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_events;
};
