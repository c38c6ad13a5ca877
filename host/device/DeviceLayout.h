// The layout of a simulated device on disk, and laying one out: the base system (the
// directories, the host programs, the device's own tools and its package database), and
// then the built packages, which dpkg installs.
#pragma once

#include "host/device/DeviceScheme.h"
#include "platform/Expected.h"

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace Device {

// Device paths of the system's pieces a device holds, the same on every device.
namespace Paths {
inline constexpr const char* springBoard = "/System/Library/CoreServices/SpringBoard.app/SpringBoard";
inline constexpr const char* systemVersion = "/System/Library/CoreServices/SystemVersion.plist";
inline constexpr const char* screen = "/System/Library/CoreServices/Screen.plist";
inline constexpr const char* settingsFile = "/var/mobile/Library/Preferences/com.plover.kestrelprefs.plist";
inline constexpr const char* systemLog = "/var/log/syslog";
inline constexpr const char* run = "/var/run";
} // namespace Paths

// Device paths of what the jailbreak and the packages install, as a rootful device has them;
// jailbreakPath(scheme, path) places one on a device of either scheme.
namespace JailbreakPaths {
inline constexpr const char* dynamicLibraries = "/Library/MobileSubstrate/DynamicLibraries";
inline constexpr const char* engineLibrary = "/Library/MobileSubstrate/DynamicLibraries/Kestrel.dylib";
inline constexpr const char* engineFilter = "/Library/MobileSubstrate/DynamicLibraries/Kestrel.plist";
inline constexpr const char* companionLibrary = "/Library/MobileSubstrate/DynamicLibraries/Nightjar.dylib";
inline constexpr const char* preferenceBundles = "/Library/PreferenceBundles";
inline constexpr const char* preferenceBundle = "/Library/PreferenceBundles/KestrelPrefs.bundle";
inline constexpr const char* preferenceLoaderEntries = "/Library/PreferenceLoader/Preferences";
inline constexpr const char* preferenceLoaderEntry = "/Library/PreferenceLoader/Preferences/KestrelPrefs.plist";
inline constexpr const char* programs = "/usr/bin";
inline constexpr const char* killall = "/usr/bin/killall";
inline constexpr const char* dpkgQuery = "/usr/bin/dpkg-query";
inline constexpr const char* packageDatabase = "/var/lib/dpkg";
inline constexpr const char* packageStatus = "/var/lib/dpkg/status";
inline constexpr const char* logs = "/var/log";
} // namespace JailbreakPaths

// The host path of a jailbreak path on the device at root, as the device's scheme places it.
std::string jailbreakHostPath(const std::string& root, const char* jailbreakPath);

// Where the built pieces are: the folder of the running kestrel program, and the lib and
// packages folders beside it.
struct Artifacts {
    std::string binDirectory;
    std::string libDirectory;
    std::string packageDirectory;
    static Artifacts nextToExecutable();

    // The packages built for devices of the scheme.
    std::string kestrelPackage(Scheme = Scheme::rootful) const;
    std::string companionPackage(Scheme = Scheme::rootful) const;
    // A scheme's base system: its package records, its staged files and their manifest.
    std::string baseSystemDirectory(Scheme) const;
};

// One file of the base system that the build makes: its mode and its place in a device
// (relative to the root). It is staged at baseSystemDirectory(scheme)/files/PATH.
struct BaseSystemFile {
    mode_t mode { 0644 };
    std::string path;
};

// The build's list of a scheme's base system files (programs, tools and the libraries they and
// the packaged tweaks link); why not when it is missing or malformed.
Platform::Expected<std::vector<BaseSystemFile>> readBaseSystemManifest(const Artifacts&, Scheme);

struct InitOptions {
    bool companion { false };
    // The base system alone: no Kestrel.
    bool stock { false };
    // The running system's version, which the firmware package records. A new device
    // gets its scheme's default (14.0 rootful, 15.0 rootless) when none is given; an existing
    // one keeps its own.
    std::optional<std::string> firmwareVersion;
    // The device's scheme. A new device is rootful unless rootless is asked for; an existing
    // one keeps the scheme it was laid out with, and asking for the other is refused.
    std::optional<Scheme> scheme;
};

// Whether the directory holds a device (it has the device's SystemVersion.plist).
bool isDevice(const std::string& hostDirectory);

// Lays out a device of the scheme: the base system, then Kestrel installed with dpkg (not
// with --stock) and the companion (with --companion), both built for that scheme. On an existing device it brings the
// base system up to date and changes no package: every installed package keeps its version. An existing device with
// Kestrel is refused --stock, and one without the companion --companion, with the command that makes the change.
// Settings and logs are kept. Refuses a directory that is neither empty nor a device (nor one whose layout was cut
// short). Gives one line saying what was done, or why nothing was.
Platform::Expected<std::string> initDevice(const std::string& hostDirectory, const InitOptions&, const Artifacts&);

// Installs or removes the companion package of an existing device, with dpkg.
Platform::Expected<void> setCompanionInstalled(const std::string& hostDirectory, bool installed, const Artifacts&);

} // namespace Device
