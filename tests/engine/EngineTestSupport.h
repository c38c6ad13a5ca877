// Standing the engine up in the test process: a throwaway device, SpringBoard's classes in the
// runtime, the engine installed as at load, and the timeline recorded. A process registers
// the classes of one profile, once (CTest runs each test in a process of its own).
#pragma once

#include "host/springboard/HostState.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/plist/Value.h"
#include "runtime/ObjC.h"

#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace EngineTesting {

using ObjC::RetainPtr;
using ObjC::WeakPtr;
using Platform::Plist::Value;

inline constexpr const char* springBoardPath = "/System/Library/CoreServices/SpringBoard.app/SpringBoard";
inline constexpr const char* settingsPath = "/var/mobile/Library/Preferences/com.plover.kestrelprefs.plist";
inline constexpr const char* companionPath = "/Library/MobileSubstrate/DynamicLibraries/Nightjar.dylib";
inline constexpr const char* attemptSelector = "_attemptUnlockWithPasscode:mesa:finishUIUnlock:completion:";
inline constexpr int64_t nanosecondsPerSecond = 1'000'000'000;

// The device profile of an iOS release, with the notification route it offers unless one is given.
SpringBoardHost::HostProfile profileFor(
    int major, int minor, std::optional<SpringBoardHost::NotificationRoute> = std::nullopt);

class EngineTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Registers SpringBoard's classes for the profile (the first call in a process) and makes
    // the process that release.
    void registerHost(const SpringBoardHost::HostProfile& = {});
    // registerHost, the engine's load-time set-up, then SpringBoard's lock-screen objects.
    void boot(const SpringBoardHost::HostProfile& = {});

    const std::string& root() const { return m_root; }
    std::string hostPath(std::string_view devicePath) const { return m_root + std::string(devicePath); }
    void writeFile(std::string_view devicePath, std::string_view contents, unsigned mode = 0644) const;
    // Replaces the settings file atomically with exactly these entries.
    void writeSettings(std::vector<std::pair<std::string, Value>>) const;
    // Puts the built companion library where the engine looks for it.
    void installCompanion() const;

    std::vector<std::string> events() const;
    std::vector<std::string> eventsStartingWith(std::string_view prefix) const;
    size_t countEvents(std::string_view event) const;
    void clearEvents();
    // The host's unlock attempts since the last clearEvents(), as "passcode=... mesa=... finish=... result=...".
    std::vector<std::string> attempts() const;

    static SpringBoardHost::HostState& host() { return SpringBoardHost::HostState::shared(); }
    static Platform::DispatchQueue& queue() { return Platform::mainQueue(); }

    // A successful biometric match as SpringBoard reports it: no passcode, mesa YES, finish NO.
    static bool faceMatch();
    static bool attempt(id receiver, id passcode, bool mesa, bool finishUIUnlock, id completion);
    // A completion block that does nothing.
    static RetainPtr completion();
    static SEL sel(const char* name) { return ObjC::sel(name); }

private:
    std::string m_root;
    mutable std::mutex m_eventsLock;
    std::vector<std::string> m_events;
};

// Counts the opens of one file through inotify. Every settings lookup opens the settings file
// exactly once, so this counts lookups without touching the engine.
class OpenCounter {
public:
    explicit OpenCounter(const std::string& hostPath);
    ~OpenCounter();
    OpenCounter(const OpenCounter&) = delete;
    OpenCounter& operator=(const OpenCounter&) = delete;

    // Opens seen since the counter was made.
    int opens();

private:
    int m_descriptor { -1 };
    int m_opens { 0 };
};

} // namespace EngineTesting
