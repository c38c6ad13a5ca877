// The scenario language as types: every line of a scenario is one of these commands,
// parsed once (CommandParser) and then only looked at, never read as words again.
// The device commands SpringBoard carries out are the driver protocol's own types;
// the rest are the session's (device set-up, settings, time, the pane) and the checks.
#pragma once

#include "host/device/DriverProtocol.h"
#include "platform/plist/Value.h"

#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

namespace Kestrel {

// A value as the scenario writes it: yes/no, an integer, a real, "text"; nullopt is nil.
using ScenarioValue = std::optional<Platform::Plist::Value>;

// --- Device set-up, before boot. ---
struct SetIos {
    Platform::SystemVersion version;
};
struct SetCoreFoundation {
    double number { 0 };
};
struct SetNotificationsRoute {
    Driver::NotificationRoute route { Driver::NotificationRoute::Structured };
};
struct SetCompanion {
    bool installed { false };
};
struct SetProcessName {
    std::string name;
};

// --- The settings file, written directly. ---
struct SettingsWrite {
    std::vector<std::pair<std::string, ScenarioValue>> entries; // nil removes the key
};
struct SettingsRemove {
    std::vector<std::string> keys;
};
struct SettingsDelete { };
struct SettingsCorrupt { };

// --- Packages, installed and removed with dpkg as `kestrel install` and `remove` do. ---
struct PackageInstall {
    std::optional<std::string> file; // none: the Kestrel package of this build
};
struct PackageRemove {
    bool purge { false };
};

// --- SpringBoard's life and the session's own actions. ---
struct Boot {
    bool finishLaunching { true };
};
struct Respring { }; // what the pane's restart button posts
struct Post {
    std::string name;
};
struct PaneSet {
    std::string key;
    std::string word; // as typed: the row reads it by its kind when it runs
};
struct PaneTap {
    std::string action;
};
struct Wait {
    int64_t nanoseconds { 0 };
};
struct PrintState { };

// --- Checks. Each one's failure is one line; the run goes on. ---
struct Check { };
struct ExpectLockscreen : Check {
    bool shown { true };
};
struct ExpectDevice : Check {
    bool locked { true };
};
struct ExpectAttempt : Check {
    std::optional<std::string> passcode;
    bool mesa { false };
    bool finish { false };
    std::optional<bool> result; // not compared when not given
};
struct ExpectNoAttempt : Check { };
struct ExpectBiometric : Check {
    Driver::BiometricCall::Kind kind { Driver::BiometricCall::Kind::ScreenOn };
};
struct ExpectNoBiometric : Check { };
struct ExpectDecision : Check {
    Driver::Decision::Outcome outcome { Driver::Decision::Outcome::PassThrough };
    std::optional<Driver::Decision::Reason> reason; // not compared when not given
};
struct ExpectRespring : Check { };
struct ExpectNoRespring : Check { };
struct ExpectLog : Check {
    std::string text;
    bool present { true };
};
struct ExpectPosted : Check {
    std::string name;
};
struct ExpectPackage : Check {
    std::optional<std::string> version; // none: Kestrel is not installed
};
struct ExpectSetting : Check {
    std::string key;
    ScenarioValue value; // nil: the key is absent
};

using Command = std::variant<SetIos, SetCoreFoundation, SetNotificationsRoute, SetCompanion, SetProcessName,
    SettingsWrite, SettingsRemove, SettingsDelete, SettingsCorrupt, PackageInstall, PackageRemove, Boot, Driver::FaceMatch, Driver::FaceFail,
    Driver::FaceEvent, Driver::FaceNext, Driver::Attempt, Driver::Touch, Driver::Aod, Driver::QuickActionsAppear,
    Driver::Flashlight, Driver::Audio, Driver::NotificationAdd, Driver::NotificationClear,
    Driver::NotificationNewController, Driver::HostAttemptResult, Driver::HostUILocked, Driver::Lock,
    Driver::FinishLaunching, Respring, Post, PaneSet, PaneTap, Wait, PrintState, ExpectLockscreen, ExpectDevice,
    ExpectAttempt, ExpectNoAttempt, ExpectBiometric, ExpectNoBiometric, ExpectDecision, ExpectRespring, ExpectNoRespring, ExpectLog,
    ExpectPosted, ExpectPackage, ExpectSetting>;

template<typename T> constexpr bool isCheck = std::is_base_of_v<Check, T>;
inline bool isCheckCommand(const Command& command)
{
    return std::visit([](const auto& alternative) { return isCheck<std::decay_t<decltype(alternative)>>; }, command);
}

// A device command is carried out by SpringBoard itself.
template<typename T> constexpr bool isDeviceCommand = requires(T command) { Driver::DeviceCommand(command); };

struct ScenarioLine {
    int number { 0 };
    Command command;
};

} // namespace Kestrel
