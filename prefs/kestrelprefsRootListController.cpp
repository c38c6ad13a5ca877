#include "prefs/kestrelprefsRootListController.h"

#include "platform/fs/DeviceRoot.h"
#include "platform/log/SystemLog.h"
#include "platform/notify/CFNotificationCenter.h"
#include "platform/plist/PropertyList.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

using namespace Runtime;
using namespace Platform::Plist;
using Preferences::PSSpecifier;

const char* const nsPreferencesPath = "/var/mobile/Library/Preferences/com.plover.kestrelprefs.plist";
__attribute__((visibility("default"))) const char* respringStr = "com.plover.kestrel.respring";
const char* const kestrelProfileAddress = "https://twitter.com/PloverDev";

namespace {

// The settings file's dictionary, or nil when it is missing or unreadable.
std::optional<Dictionary> readSettings()
{
    auto file = readFile(Platform::resolve(nsPreferencesPath));
    if (!file.ok() || !file.value.asDictionary())
        return std::nullopt;
    return std::move(*file.value.asDictionary());
}

std::optional<Value> entry(const std::optional<Dictionary>& settings, std::string_view key)
{
    if (!settings)
        return std::nullopt;
    if (auto* value = settings->find(key))
        return *value;
    return std::nullopt;
}

// Writers of the settings file take turns: each read-modify-write holds an
// exclusive lock on the Preferences folder, so two panes writing at once
// never drop each other's entries. Readers need no lock: the file is
// replaced whole, in one step.
//
// A writer that finds the lock taken blocks in the kernel, which wakes it the
// moment the holder lets go. (Polling for it lets a writer that writes again
// and again starve the others past the bound below.) The block happens on a
// helper thread so that the wait stays bounded: a holder that keeps the lock
// far longer than a write takes (a hung process, an outsider) must not hang
// the Settings app, so after the bound the write goes ahead without it.
class SettingsWriteLock {
    static constexpr auto maximumWait = std::chrono::seconds(2);

    struct Waiter {
        std::mutex lock;
        std::condition_variable settled;
        int fd { -1 };
        bool done { false };
        bool acquired { false };
        bool abandoned { false };
    };

public:
    explicit SettingsWriteLock(const std::string& folder)
    {
        int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return;
        if (!::flock(fd, LOCK_EX | LOCK_NB)) {
            m_fd = fd;
            return;
        }
        auto waiter = std::make_shared<Waiter>();
        waiter->fd = fd;
        try {
            std::thread([waiter] {
                int result;
                do
                    result = ::flock(waiter->fd, LOCK_EX);
                while (result && errno == EINTR);
                std::lock_guard guard(waiter->lock);
                waiter->done = true;
                waiter->acquired = !result;
                // Given up on: the lock, now had, goes at once with the descriptor.
                if (waiter->abandoned)
                    ::close(waiter->fd);
                waiter->settled.notify_one();
            }).detach();
        } catch (const std::system_error&) {
            ::close(fd);
            return;
        }
        std::unique_lock guard(waiter->lock);
        if (!waiter->settled.wait_for(guard, maximumWait, [&] { return waiter->done; })) {
            waiter->abandoned = true;
            return;
        }
        if (waiter->acquired)
            m_fd = fd;
        else
            ::close(fd);
    }
    ~SettingsWriteLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    SettingsWriteLock(const SettingsWriteLock&) = delete;
    SettingsWriteLock& operator=(const SettingsWriteLock&) = delete;

private:
    int m_fd { -1 };
};

// A writer killed in the middle of a write leaves its temporary file behind
// (".com.plover.kestrelprefs.plist.XXXXXX"). Every pane write holds the lock
// while its temporary file exists, so one older than a minute is a dead
// writer's; removing those keeps the folder from filling up.
void removeAbandonedTemporaryFiles(const std::string& folder, const std::string& fileName)
{
    namespace fs = std::filesystem;
    std::error_code error;
    std::string prefix = "." + fileName + ".";
    auto now = fs::file_time_type::clock::now();
    for (auto& entry : fs::directory_iterator(folder, error)) {
        std::string name = entry.path().filename().string();
        if (name.size() != prefix.size() + 6 || !name.starts_with(prefix) || !entry.is_regular_file(error))
            continue;
        auto modified = entry.last_write_time(error);
        if (!error && now - modified > std::chrono::minutes(1))
            fs::remove(entry.path(), error);
    }
}

// A settings file the pane cannot read (one edited by hand with a typo, say) is not written
// over as it is: the write starts from nothing, so everything in it would be lost. It is
// renamed aside to NAME.unreadable first, taking the place of an older one kept there; a
// rename moves the entry itself, whatever it is or points to, and copies nothing. Answers
// whether the write may go ahead: not when the file is still in its place.
bool keepUnreadableSettings(const std::string& path, std::string_view reason)
{
    struct stat status;
    // A folder in its place is no file to keep, and the write cannot replace it anyway.
    if (::lstat(path.c_str(), &status) || S_ISDIR(status.st_mode))
        return true;
    std::string name = path.substr(path.rfind('/') + 1);
    std::string kept = path + ".unreadable";
    if (::rename(path.c_str(), kept.c_str())) {
        std::string failure = std::strerror(errno);
        Platform::systemLog("KestrelPrefs: " + name + " could not be read (" + std::string(reason)
            + ") nor be kept aside (" + failure + "); it is left as it is and the change is not saved");
        return false;
    }
    Platform::systemLog(
        "KestrelPrefs: " + name + " could not be read (" + std::string(reason) + "); kept it as " + name + ".unreadable");
    return true;
}

void registerController()
{
    Preferences::registerPreferencesClasses();
    if (getClass("kestrelprefsRootListController"))
        return;
    ClassBuilder<kestrelprefsRootListController>("kestrelprefsRootListController", "PSListController")
        .method<&kestrelprefsRootListController::specifiers>("specifiers")
        .method<&kestrelprefsRootListController::readPreferenceValue>("readPreferenceValue:")
        .method<&kestrelprefsRootListController::setPreferenceValue>("setPreferenceValue:specifier:")
        .method<&kestrelprefsRootListController::respring>("respring")
        .method<&kestrelprefsRootListController::twitterlink>("twitterlink")
        .method<&kestrelprefsRootListController::shouldReload>("shouldReload")
        .method<&kestrelprefsRootListController::setShouldReload>("setShouldReload:");
}

const bool s_registered = (addClassRegistrar(&registerController), true);

} // namespace

std::string describeValue(const std::optional<Value>& value)
{
    if (!value)
        return "(null)";
    switch (value->kind()) {
    case Kind::String:
        return *value->asString();
    case Kind::Boolean:
        return value->boolValue() ? "1" : "0";
    case Kind::Integer:
        return value->isLargeUnsigned() ? std::to_string(value->unsignedIntegerValue()) : std::to_string(value->integerValue());
    case Kind::Real: {
        char text[64];
        std::snprintf(text, sizeof(text), "%.16g", value->doubleValue());
        return text;
    }
    case Kind::Data:
        return "{length = " + std::to_string(value->asData()->size()) + "}";
    case Kind::Date: {
        char text[64];
        std::snprintf(text, sizeof(text), "%.0f", value->asDate()->secondsSinceReferenceDate);
        return std::string("date ") + text;
    }
    case Kind::Array: {
        std::string text = "(";
        for (auto& element : *value->asArray())
            text += (text.size() > 1 ? ", " : "") + describeValue(element);
        return text + ")";
    }
    case Kind::Dictionary: {
        std::string text = "{";
        for (auto& [key, element] : *value->asDictionary())
            text += (text.size() > 1 ? "; " : "") + key + " = " + describeValue(element);
        return text + "}";
    }
    case Kind::Uid:
        return "uid " + std::to_string(value->asUid().value_or(0));
    }
    return "(null)";
}

RefPtr<Object> kestrelprefsRootListController::specifiers()
{
    if (m_shouldReload) {
        m_shouldReload = false;
        m_specifiers = nullptr;
    } else if (m_specifiers)
        return m_specifiers;
    m_specifiers = send<RefPtr<Object>>(this, "loadSpecifiersFromPlistName:target:", NSString::create("Root"), this);
    return m_specifiers;
}

std::optional<Value> kestrelprefsRootListController::readPreferenceValue(Object* object)
{
    auto settings = readSettings();
    auto* specifier = dynamic_cast<PSSpecifier*>(object);
    auto key = specifier ? specifier->stringProperty("key") : std::nullopt;

    std::optional<Value> result;
    if (key == "presetUserAgent")
        result = Value::string(describeValue(entry(settings, "device")) + "/" + describeValue(entry(settings, "iosVersion")));
    else if (auto stored = key ? entry(settings, *key) : std::nullopt)
        result = std::move(stored);
    else if (auto* fallback = specifier ? specifier->propertyList().find("default") : nullptr)
        result = *fallback;

    if (key == "device" || key == "iosVersion")
        send(this, "reloadSpecifierID:", NSString::create("User-Agent"));
    return result;
}

void kestrelprefsRootListController::setPreferenceValue(std::optional<Value> value, Object* object)
{
    auto* specifier = dynamic_cast<PSSpecifier*>(object);
    auto key = specifier ? specifier->stringProperty("key") : std::nullopt;
    // A row without a key, or no value to store: nothing to write, nothing to announce.
    if (!key || !value)
        return;

    std::string path = Platform::resolve(nsPreferencesPath);
    {
        // A device whose Preferences folder has gone gets it back with the first write.
        std::string folder = path.substr(0, path.rfind('/'));
        std::error_code ignored;
        std::filesystem::create_directories(folder, ignored);
        SettingsWriteLock lock(folder);
        removeAbandonedTemporaryFiles(folder, path.substr(path.rfind('/') + 1));
        Dictionary merged;
        auto file = readFile(path);
        bool writable = true;
        if (file.ok() && file.value.asDictionary())
            merged = std::move(*file.value.asDictionary());
        else if (!file.isMissing())
            writable = keepUnreadableSettings(path, file.ok() ? "its root is not a dictionary" : file.reason);
        if (writable) {
            merged.set(*key, std::move(*value));
            writeFileAtomically(path, Value(std::move(merged)));
        }
    }

    if (auto name = specifier->stringProperty("PostNotification"))
        CFNotificationCenterPostNotification(CFNotificationCenterGetDarwinNotifyCenter(), *name, nullptr, nullptr, true);
    if (*key == "useCustom" || *key == "enabled") {
        m_shouldReload = true;
        send(this, "reloadSpecifiers");
    }
}

void kestrelprefsRootListController::respring()
{
    CFNotificationCenterPostNotification(CFNotificationCenterGetDarwinNotifyCenter(), respringStr, nullptr, nullptr, true);
}

void kestrelprefsRootListController::twitterlink()
{
    auto url = send<RefPtr<Object>>(getClass("NSURL"), "URLWithString:", NSString::create(kestrelProfileAddress));
    auto application = send<RefPtr<Object>>(getClass("UIApplication"), "sharedApplication");
    send<bool>(application, "openURL:", url.get());
}
