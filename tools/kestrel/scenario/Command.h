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

// Each command is a value: two are equal when they say the same.

// --- Device set-up, before boot. ---
struct SetIos {
    Platform::SystemVersion version;
    friend bool operator==(const SetIos& a, const SetIos& b)
    {
        return a.version.major == b.version.major && a.version.minor == b.version.minor
            && a.version.patch == b.version.patch;
    }
};
struct SetCoreFoundation {
    double number { 0 };
    friend bool operator==(const SetCoreFoundation&, const SetCoreFoundation&) = default;
};
struct SetNotificationsRoute {
    Driver::NotificationRoute route { Driver::NotificationRoute::Structured };
    friend bool operator==(const SetNotificationsRoute&, const SetNotificationsRoute&) = default;
};
struct SetCompanion {
    bool installed { false };
    friend bool operator==(const SetCompanion&, const SetCompanion&) = default;
};
struct SetProcessName {
    std::string name;
    friend bool operator==(const SetProcessName&, const SetProcessName&) = default;
};

// --- The settings file, written directly. ---
struct SettingsWrite {
    std::vector<std::pair<std::string, ScenarioValue>> entries; // nil removes the key
    friend bool operator==(const SettingsWrite&, const SettingsWrite&) = default;
};
struct SettingsRemove {
    std::vector<std::string> keys;
    friend bool operator==(const SettingsRemove&, const SettingsRemove&) = default;
};
struct SettingsDelete {
    friend bool operator==(const SettingsDelete&, const SettingsDelete&) = default;
};
struct SettingsCorrupt {
    friend bool operator==(const SettingsCorrupt&, const SettingsCorrupt&) = default;
};

// --- Packages, installed and removed with dpkg as `kestrel install` and `remove` do. ---
struct PackageInstall {
    std::optional<std::string> file; // none: the Kestrel package of this build
    friend bool operator==(const PackageInstall&, const PackageInstall&) = default;
};
struct PackageRemove {
    bool purge { false };
    friend bool operator==(const PackageRemove&, const PackageRemove&) = default;
};

// --- SpringBoard's life and the session's own actions. ---
struct Boot {
    bool finishLaunching { true };
    friend bool operator==(const Boot&, const Boot&) = default;
};
// What the pane's restart button posts.
struct Respring {
    friend bool operator==(const Respring&, const Respring&) = default;
};
struct Post {
    std::string name;
    friend bool operator==(const Post&, const Post&) = default;
};
struct PaneSet {
    std::string key;
    std::string word; // as typed: the row reads it by its kind when it runs
    friend bool operator==(const PaneSet&, const PaneSet&) = default;
};
struct PaneTap {
    std::string action;
    friend bool operator==(const PaneTap&, const PaneTap&) = default;
};
struct Wait {
    int64_t nanoseconds { 0 };
    friend bool operator==(const Wait&, const Wait&) = default;
};
struct PrintState {
    friend bool operator==(const PrintState&, const PrintState&) = default;
};

// --- Checks. Each one's failure is one line; the run goes on. ---
struct Check {
    friend bool operator==(const Check&, const Check&) = default;
};
struct ExpectLockscreen : Check {
    bool shown { true };
    friend bool operator==(const ExpectLockscreen&, const ExpectLockscreen&) = default;
};
struct ExpectDevice : Check {
    bool locked { true };
    friend bool operator==(const ExpectDevice&, const ExpectDevice&) = default;
};
struct ExpectAttempt : Check {
    std::optional<std::string> passcode;
    bool mesa { false };
    bool finish { false };
    std::optional<bool> result; // not compared when not given
    friend bool operator==(const ExpectAttempt&, const ExpectAttempt&) = default;
};
struct ExpectNoAttempt : Check {
    friend bool operator==(const ExpectNoAttempt&, const ExpectNoAttempt&) = default;
};
struct ExpectBiometric : Check {
    Driver::BiometricCall::Kind kind { Driver::BiometricCall::Kind::ScreenOn };
    friend bool operator==(const ExpectBiometric&, const ExpectBiometric&) = default;
};
struct ExpectNoBiometric : Check {
    friend bool operator==(const ExpectNoBiometric&, const ExpectNoBiometric&) = default;
};
struct ExpectDecision : Check {
    Driver::Decision::Outcome outcome { Driver::Decision::Outcome::PassThrough };
    std::optional<Driver::Decision::Reason> reason; // not compared when not given
    friend bool operator==(const ExpectDecision&, const ExpectDecision&) = default;
};
struct ExpectRespring : Check {
    friend bool operator==(const ExpectRespring&, const ExpectRespring&) = default;
};
struct ExpectNoRespring : Check {
    friend bool operator==(const ExpectNoRespring&, const ExpectNoRespring&) = default;
};
struct ExpectLog : Check {
    std::string text;
    bool present { true };
    friend bool operator==(const ExpectLog&, const ExpectLog&) = default;
};
struct ExpectPosted : Check {
    std::string name;
    friend bool operator==(const ExpectPosted&, const ExpectPosted&) = default;
};
struct ExpectPackage : Check {
    std::optional<std::string> version; // none: Kestrel is not installed
    friend bool operator==(const ExpectPackage&, const ExpectPackage&) = default;
};
struct ExpectSetting : Check {
    std::string key;
    ScenarioValue value; // nil: the key is absent
    friend bool operator==(const ExpectSetting&, const ExpectSetting&) = default;
};

using Command = std::variant<SetIos, SetCoreFoundation, SetNotificationsRoute, SetCompanion, SetProcessName,
    SettingsWrite, SettingsRemove, SettingsDelete, SettingsCorrupt, PackageInstall, PackageRemove, Boot,
    Driver::FaceMatch, Driver::FaceFail, Driver::FaceEvent, Driver::FaceNext, Driver::Attempt, Driver::Touch,
    Driver::Aod, Driver::QuickActionsAppear, Driver::Flashlight, Driver::Audio, Driver::NotificationAdd,
    Driver::NotificationClear, Driver::NotificationNewController, Driver::HostAttemptResult, Driver::HostUILocked,
    Driver::Lock, Driver::FinishLaunching, Respring, Post, PaneSet, PaneTap, Wait, PrintState, ExpectLockscreen,
    ExpectDevice, ExpectAttempt, ExpectNoAttempt, ExpectBiometric, ExpectNoBiometric, ExpectDecision, ExpectRespring,
    ExpectNoRespring, ExpectLog, ExpectPosted, ExpectPackage, ExpectSetting>;

template <typename T> constexpr bool isCheck = std::is_base_of_v<Check, T>;
inline bool isCheckCommand(const Command& command)
{
    return std::visit([](const auto& alternative) { return isCheck<std::decay_t<decltype(alternative)>>; }, command);
}

// A device command is carried out by SpringBoard itself.
template <typename T> constexpr bool isDeviceCommand = requires(T command) { Driver::DeviceCommand(command); };

struct ScenarioLine {
    int number { 0 };
    Command command;
};

} // namespace Kestrel
