#include "platform/foundation/CoreFoundation.h"

#include <atomic>
#include <string_view>
#include <charconv>
#include <mutex>

extern "C" {
double kCFCoreFoundationVersionNumber = 1740.00;
}

namespace Platform {

namespace {

std::mutex s_lock;
SystemVersion s_version;

} // namespace

void setSystemVersion(SystemVersion version)
{
    std::lock_guard guard(s_lock);
    s_version = version;
}

SystemVersion systemVersion()
{
    std::lock_guard guard(s_lock);
    return s_version;
}

std::string systemVersionString() { return systemVersionString(systemVersion()); }

std::string systemVersionString(SystemVersion version)
{
    std::string text = std::to_string(version.major);
    text += '.';
    text += std::to_string(version.minor);
    if (version.patch) {
        text += '.';
        text += std::to_string(version.patch);
    }
    return text;
}

bool parseSystemVersion(std::string_view text, SystemVersion& version)
{
    int parts[3] = { 0, 0, 0 };
    size_t count = 0;
    const char* cursor = text.data();
    const char* end = text.data() + text.size();
    while (count < 3) {
        auto [next, error] = std::from_chars(cursor, end, parts[count]);
        if (error != std::errc() || next == cursor || parts[count] < 0 || parts[count] > 999)
            return false;
        ++count;
        cursor = next;
        if (cursor == end)
            break;
        if (*cursor != '.')
            return false;
        ++cursor;
    }
    if (cursor != end || parts[0] < 1)
        return false;
    version = { parts[0], parts[1], parts[2] };
    return true;
}

bool isSystemVersionAtLeast(int major, int minor)
{
    auto version = systemVersion();
    return version.major > major || (version.major == major && version.minor >= minor);
}

double coreFoundationVersionFor(SystemVersion version)
{
    static constexpr struct {
        int major;
        double number;
    } releases[] = { { 10, 1348.00 }, { 11, 1443.00 }, { 12, 1556.00 }, { 13, 1665.15 }, { 14, 1740.00 }, { 15, 1854.00 } };
    double number = releases[0].number;
    for (auto& release : releases) {
        if (version.major >= release.major)
            number = release.number;
    }
    return number;
}

} // namespace Platform
