// The running system's identity as the system asks for it: the CoreFoundation
// version number and the iOS version (the stand-in for @available checks).
// The host sets both from the device profile before any module looks.
#pragma once

#include <compare>
#include <string>
#include <string_view>

extern "C" {
// kCFCoreFoundationVersionNumber: 1348.00 for iOS 10.0 ... 1854.00 for iOS 15.0.
extern double kCFCoreFoundationVersionNumber;
}

namespace Platform {

struct SystemVersion {
    int major { 14 };
    int minor { 0 };
    int patch { 0 };
    auto operator<=>(const SystemVersion&) const = default;
};

void setSystemVersion(SystemVersion);
SystemVersion systemVersion();
// "14.0", "12.4.1": the running version, or the one given.
std::string systemVersionString();
std::string systemVersionString(SystemVersion);
// Parses "12.4" or "13" ; nullopt-like failure is reported as false.
bool parseSystemVersion(std::string_view, SystemVersion&);

// @available(iOS major.minor, *)
bool isSystemVersionAtLeast(int major, int minor);

// The CoreFoundation version number of a release, from the table of known
// releases (the nearest release at or below the version).
double coreFoundationVersionFor(SystemVersion);

} // namespace Platform
