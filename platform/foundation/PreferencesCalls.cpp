// The simulated device's side of the settings pane's platform calls: the codec, device paths and
// the file system underneath.
#include "platform/foundation/PreferencesCalls.h"

#include "platform/foundation/FoundationValue.h"
#include "platform/fs/DeviceRoot.h"
#include "platform/plist/Encoding.h"
#include "platform/plist/PropertyList.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

using namespace Platform;
using namespace Platform::Plist;

namespace {

// Writers of a folder take turns: each read-modify-write holds an exclusive lock on it, so two
// panes writing at once never drop each other's entries. Readers need no lock: the file is
// replaced whole, in one step.
//
// A writer that finds the lock taken blocks in the kernel, which wakes it the moment the holder
// lets go. (Polling for it lets a writer that writes again and again starve the others past the
// bound below.) The block happens on a helper thread so that the wait stays bounded: a holder
// that keeps the lock far longer than a write takes (a hung process, an outsider) must not hang
// the Settings app, so after the bound the write goes ahead without it.
class FolderWriteLock {
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
    explicit FolderWriteLock(const std::string& folder)
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
    ~FolderWriteLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FolderWriteLock(const FolderWriteLock&) = delete;
    FolderWriteLock& operator=(const FolderWriteLock&) = delete;

private:
    int m_fd { -1 };
};

// A writer killed in the middle of a write leaves its temporary file behind (".NAME.XXXXXX").
// Every write holds the lock while its temporary file exists, so one older than a minute is a
// dead writer's; removing those keeps the folder from filling up.
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

// A file that cannot be read would be lost to the write, which then starts from nothing: it is
// renamed aside to NAME.unreadable first. A rename moves the entry itself, whatever it is or
// points to, and copies nothing. Answers whether the write may go ahead: not when the file is
// still in its place.
bool keepUnreadableFile(const std::string& path, const std::string& reason, PlatformPreferencesUpdate& outcome)
{
    struct stat status;
    // A folder in its place is no file to keep, and the write cannot replace it anyway.
    if (::lstat(path.c_str(), &status) || S_ISDIR(status.st_mode))
        return true;
    outcome.unreadableReason = makeString(reason);
    std::string kept = path + ".unreadable";
    if (::rename(path.c_str(), kept.c_str())) {
        outcome.keepAsideFailure = makeString(std::strerror(errno));
        return false;
    }
    outcome.keptAside = true;
    return true;
}

bool updatePreferencesFile(const std::string& path, const std::string& key, Value value, PlatformPreferencesUpdate& outcome)
{
    std::string folder = path.substr(0, path.rfind('/'));
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    FolderWriteLock lock(folder);
    removeAbandonedTemporaryFiles(folder, path.substr(path.rfind('/') + 1));
    Dictionary merged;
    auto file = readFile(path);
    if (file.ok() && file.value.asDictionary())
        merged = std::move(*file.value.asDictionary());
    else if (!file.isMissing() && !keepUnreadableFile(path, file.ok() ? "its root is not a dictionary" : file.reason, outcome))
        return false;
    merged.set(key, std::move(value));
    return writeFileAtomically(path, Value(std::move(merged)));
}

} // namespace

extern "C" {

BOOL PlatformUpdatePreferencesFile(const char* devicePath, id key, id value, PlatformPreferencesUpdate* outcome)
{
    PlatformPreferencesUpdate ignored {};
    PlatformPreferencesUpdate& result = outcome ? *outcome : ignored;
    result = {};
    auto name = stringValue(key);
    auto entry = propertyListValue(value);
    if (!devicePath || !name || !entry)
        return false;
    // The caller is the system's code, written against C: nothing may escape into it.
    try {
        return updatePreferencesFile(resolve(devicePath), *name, std::move(*entry), result);
    } catch (const std::exception&) {
        return false;
    }
}

id PlatformStringWithUTF8Data(id data)
{
    static SEL const bytes = ObjC::sel("bytes");
    static SEL const length = ObjC::sel("length");
    if (!data)
        return nullptr;
    const char* start = static_cast<const char*>(ObjC::send<const void*>(data, bytes));
    std::string_view text(start ? start : "", start ? ObjC::send<unsigned long>(data, length) : 0);
    size_t errorOffset = 0;
    if (!isValidUtf8(text, errorOffset))
        return nullptr;
    return makeString(text);
}
}
