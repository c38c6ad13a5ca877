#include "tools/kestrel/serve/SessionRecording.h"

#include "host/device/DeviceLayout.h"
#include "host/device/PackageManager.h"
#include "host/device/Words.h"
#include "platform/plist/PropertyList.h"
#include "tools/kestrel/scenario/CommandParser.h"

#include <cstdint>
#include <sys/stat.h>

namespace Kestrel {

namespace {

// Real-time replays run the same waits, so an event that came between two commands
// comes again between them. After the last command the recording waits until the
// last event, and this much longer, to cover a replay that runs a little late.
constexpr int64_t trailingMargin = 100'000'000;

std::optional<std::string> checkFor(const Driver::Event& event)
{
    if (auto* attempt = std::get_if<Driver::AttemptCall>(&event))
        return describe(ExpectAttempt { {}, attempt->passcode, attempt->mesa, attempt->finish, attempt->result });
    if (auto* decision = std::get_if<Driver::Decision>(&event))
        return describe(ExpectDecision { {}, decision->outcome, decision->givenReason() });
    return std::nullopt;
}

class Writer {
public:
    explicit Writer(const SessionRecord& record)
        : m_record(record)
    {
    }

    void line(const std::string& text) { m_text += text + '\n'; }

    // A wait of whole milliseconds, when it comes to one.
    void wait(int64_t nanoseconds)
    {
        if (nanoseconds >= 500'000)
            line(describe(Wait { (nanoseconds + 500'000) / 1'000'000 * 1'000'000 }));
    }

    // Checks for the events with sequence numbers in [first, end), in order.
    void checks(uint64_t first, uint64_t end)
    {
        for (auto& event : m_record.events) {
            if (event.sequence < first || event.sequence >= end)
                continue;
            if (auto check = checkFor(event.event))
                line(*check);
        }
    }

    std::string take() { return std::move(m_text); }

private:
    const SessionRecord& m_record;
    std::string m_text;
};

} // namespace

std::string recordScenario(const SessionRecord& record)
{
    Writer out(record);
    out.line("# A session of kestrel serve, recorded as it ran. Replay it on a fresh device:");
    out.line(std::string("#     kestrel run DIR THIS-FILE") + (record.realTime ? " --real-time" : ""));
    for (auto& line : record.setUp)
        out.line(line);

    const DeviceSession::AcceptedCommand* previous = nullptr;
    for (auto& command : record.commands) {
        if (previous) {
            if (record.realTime)
                out.wait(command.stamp - previous->finished);
            out.checks(previous->endEvent, command.firstEvent);
        }
        out.line(command.text);
        out.checks(command.firstEvent, command.endEvent);
        previous = &command;
    }

    if (previous) {
        int64_t lastStamp = previous->finished;
        bool trailing = false;
        for (auto& event : record.events) {
            if (event.sequence >= previous->endEvent) {
                lastStamp = std::max(lastStamp, event.stamp);
                trailing = true;
            }
        }
        if (trailing && record.realTime)
            out.wait(lastStamp - previous->finished + trailingMargin);
        out.checks(previous->endEvent, UINT64_MAX);
    }

    auto& state = record.finalState;
    if (state && state->springBoard == SessionState::SpringBoard::Running && state->device) {
        out.line(describe(ExpectLockscreen { {}, state->device->lockscreenShown }));
        out.line(describe(ExpectDevice { {}, state->device->deviceLocked }));
        out.line(describe(ExpectNoAttempt {}));
    }
    return out.take();
}

std::vector<std::string> deviceSetUp(const std::string& root)
{
    std::vector<std::string> lines;
    struct stat status;
    if (::stat(Device::jailbreakHostPath(root, Device::JailbreakPaths::companionLibrary).c_str(), &status) == 0)
        lines.push_back(describe(SetCompanion { true }));
    auto installed = Device::PackageManager(root).installedVersion(Device::PackageNames::kestrel);
    if (!installed)
        lines.push_back("# the device's package database could not be read: " + installed.error());
    else if (!*installed)
        lines.push_back(describe(PackageRemove { false }));

    lines.push_back(describe(SettingsDelete {}));
    std::string path = root + Device::Paths::settingsFile;
    if (::stat(path.c_str(), &status) != 0)
        return lines;
    auto file = Platform::Plist::readFile(path);
    const auto* settings = file.ok() ? file.value.asDictionary() : nullptr;
    if (!settings) {
        lines.push_back(describe(SettingsCorrupt {}));
        return lines;
    }
    for (auto& [key, value] : *settings) {
        bool writable = value.isBoolean() || (value.isInteger() && !value.isLargeUnsigned()) || value.isReal()
            || (value.asString() && Device::fitsOnALine(*value.asString()));
        if (!writable || key.find('=') != std::string::npos || !Device::fitsOnALine(key)) {
            lines.push_back("# the settings file also held "
                + (Device::fitsOnALine(key) ? Device::displayWord(key) : std::string("a key of several lines")) + " ("
                + Platform::Plist::kindName(value.kind()) + "), which a scenario cannot write");
            continue;
        }
        lines.push_back(describe(SettingsWrite { { { key, value } } }));
    }
    return lines;
}

} // namespace Kestrel
