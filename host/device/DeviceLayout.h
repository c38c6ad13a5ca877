// The layout of a simulated device on disk, and laying one out: the base system (the
// directories, the host programs, the device's own tools and its package database), and
// then the built packages, which dpkg installs.
#pragma once

#include <optional>
#include <string>

namespace Device {

// Device paths of the pieces a device holds.
namespace Paths {
inline constexpr const char* springBoard = "/System/Library/CoreServices/SpringBoard.app/SpringBoard";
inline constexpr const char* systemVersion = "/System/Library/CoreServices/SystemVersion.plist";
inline constexpr const char* screen = "/System/Library/CoreServices/Screen.plist";
inline constexpr const char* dynamicLibraries = "/Library/MobileSubstrate/DynamicLibraries";
inline constexpr const char* engineLibrary = "/Library/MobileSubstrate/DynamicLibraries/Kestrel.dylib";
inline constexpr const char* engineFilter = "/Library/MobileSubstrate/DynamicLibraries/Kestrel.plist";
inline constexpr const char* companionLibrary = "/Library/MobileSubstrate/DynamicLibraries/Nightjar.dylib";
inline constexpr const char* preferenceBundle = "/Library/PreferenceBundles/KestrelPrefs.bundle";
inline constexpr const char* preferenceLoaderEntry = "/Library/PreferenceLoader/Preferences/KestrelPrefs.plist";
inline constexpr const char* killall = "/usr/bin/killall";
inline constexpr const char* dpkgQuery = "/usr/bin/dpkg-query";
inline constexpr const char* packageDatabase = "/var/lib/dpkg";
inline constexpr const char* packageStatus = "/var/lib/dpkg/status";
inline constexpr const char* settingsFile = "/var/mobile/Library/Preferences/com.plover.kestrelprefs.plist";
inline constexpr const char* systemLog = "/var/log/syslog";
inline constexpr const char* run = "/var/run";
} // namespace Paths

// Where the built pieces are: the folder of the running kestrel program, and the lib and
// packages folders beside it.
struct Artifacts {
    std::string binDirectory;
    std::string libDirectory;
    std::string packageDirectory;
    static Artifacts nextToExecutable();

    std::string kestrelPackage() const;
    std::string companionPackage() const;
    // The base system's package records.
    std::string baseSystemDirectory() const;
};

struct InitOptions {
    bool companion { false };
    // The base system alone: no Kestrel.
    bool stock { false };
    // The running system's version, which the firmware package records.
    std::string firmwareVersion { "14.0" };
};

// Whether the directory holds a device (it has the device's SystemVersion.plist).
bool isDevice(const std::string& hostDirectory);

// Lays out a device, or brings an existing one up to date with the built pieces: the base
// system, then Kestrel installed with dpkg (removed with --stock), then the companion
// installed or removed as asked. Settings and logs are kept. Refuses a directory that is
// neither empty nor a device (nor one whose layout was cut short). Returns an error message,
// or nullopt on success.
std::optional<std::string> initDevice(const std::string& hostDirectory, const InitOptions&, const Artifacts&);

// Installs or removes the companion package of an existing device, with dpkg.
std::optional<std::string> setCompanionInstalled(const std::string& hostDirectory, bool installed, const Artifacts&);

} // namespace Device
