// The settings pane's platform calls on a phone, on the C library and Foundation: the update of
// one entry of a preferences file and the strict reading of a tool's output as text.
#include "platform/foundation/PreferencesCalls.h"

#include "platform/foundation/PlatformCalls.h"
#include "runtime/ObjC.h"

#include <cstddef>
#include <cstdint>

extern "C" {
// Darwin's C library, as its manual pages give it.
int open(const char* path, int flags, ...);
int close(int fd);
int flock(int fd, int operation);
int usleep(unsigned microseconds);
int rename(const char* from, const char* to);
int lstat(const char* path, void* status);
int* __error(void);
char* strerror(int error);
}

namespace {

using namespace ObjC;

constexpr int openForReading = 0; // O_RDONLY
constexpr int openFolder = 0x100000; // O_DIRECTORY
constexpr int closeOnExec = 0x1000000; // O_CLOEXEC
constexpr int lockExclusive = 2; // LOCK_EX
constexpr int lockWithoutWaiting = 4; // LOCK_NB
constexpr unsigned typeMask = 0170000; // S_IFMT
constexpr unsigned typeFolder = 0040000; // S_IFDIR
constexpr unsigned long utf8Encoding = 4; // NSUTF8StringEncoding

// Writers of a folder take turns under an exclusive lock on it, waited for at most 2 seconds.
// On a phone the pane is the file's only writer, so the wait is a plain poll.
class FolderWriteLock {
public:
    explicit FolderWriteLock(const char* folder)
    {
        int fd = open(folder, openForReading | openFolder | closeOnExec);
        if (fd < 0)
            return;
        for (int attempt = 0; attempt < 400; ++attempt) {
            if (!flock(fd, lockExclusive | lockWithoutWaiting)) {
                m_fd = fd;
                return;
            }
            usleep(5000);
        }
        close(fd);
    }
    ~FolderWriteLock()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    FolderWriteLock(const FolderWriteLock&) = delete;
    FolderWriteLock& operator=(const FolderWriteLock&) = delete;

private:
    int m_fd { -1 };
};

bool isFolderEntry(const char* path)
{
    // Darwin's struct stat on arm64: st_mode, a 16-bit field, at offset 4 of 144 bytes.
    alignas(8) unsigned char status[256];
    if (lstat(path, status))
        return false;
    unsigned mode = unsigned(status[4]) | unsigned(status[5]) << 8;
    return (mode & typeMask) == typeFolder;
}

id pathString(const char* path) { return string(path); }

// A file that cannot be read would be lost to the write, which starts from nothing: it is renamed
// aside to NAME.unreadable first. Whether the write may go ahead.
bool keepUnreadableFile(const char* path, id reason, PlatformPreferencesUpdate& outcome)
{
    static SEL const stringByAppendingString = sel("stringByAppendingString:");
    static SEL const fileSystemRepresentation = sel("fileSystemRepresentation");
    if (isFolderEntry(path))
        return true;
    outcome.unreadableReason = reason;
    id kept = send<id>(pathString(path), stringByAppendingString, string(".unreadable"));
    if (rename(path, send<const char*>(kept, fileSystemRepresentation))) {
        outcome.keepAsideFailure = string(strerror(*__error()));
        return false;
    }
    outcome.keptAside = true;
    return true;
}

// Whether the bytes are strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool isStrictUtf8(const unsigned char* bytes, size_t length)
{
    for (size_t index = 0; index < length;) {
        unsigned char lead = bytes[index];
        if (lead < 0x80) {
            ++index;
            continue;
        }
        size_t count;
        uint32_t minimum;
        uint32_t point;
        if ((lead & 0xE0) == 0xC0) {
            count = 1;
            minimum = 0x80;
            point = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            count = 2;
            minimum = 0x800;
            point = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            count = 3;
            minimum = 0x10000;
            point = lead & 0x07;
        } else
            return false;
        if (length - index <= count)
            return false;
        for (size_t next = 1; next <= count; ++next) {
            unsigned char continuation = bytes[index + next];
            if ((continuation & 0xC0) != 0x80)
                return false;
            point = point << 6 | (continuation & 0x3F);
        }
        if (point < minimum || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
            return false;
        index += count + 1;
    }
    return true;
}

} // namespace

extern "C" {

BOOL PlatformUpdatePreferencesFile(const char* devicePath, id key, id value, PlatformPreferencesUpdate* outcome)
{
    static SEL const stringByDeletingLastPathComponent = sel("stringByDeletingLastPathComponent");
    static SEL const defaultManager = sel("defaultManager");
    static SEL const createDirectory = sel("createDirectoryAtPath:withIntermediateDirectories:attributes:error:");
    static SEL const isKindOfClass = sel("isKindOfClass:");
    static SEL const mutableCopy = sel("mutableCopy");
    static SEL const dictionary = sel("dictionary");
    static SEL const setObjectForKey = sel("setObject:forKey:");
    static SEL const fileSystemRepresentation = sel("fileSystemRepresentation");
    PlatformPreferencesUpdate ignored {};
    PlatformPreferencesUpdate& result = outcome ? *outcome : ignored;
    result = {};
    if (!devicePath || !key || !value || !send<bool>(key, isKindOfClass, getClass("NSString")))
        return false;
    // The caller is the system's code, written against C: nothing may escape into it.
    try {
        id folder = send<id>(pathString(devicePath), stringByDeletingLastPathComponent);
        send<bool>(send<id>(getClass("NSFileManager"), defaultManager), createDirectory, folder, true, nullptr,
            static_cast<id*>(nullptr));
        FolderWriteLock lock(send<const char*>(folder, fileSystemRepresentation));
        // Foundation's atomic write keeps its temporary files to itself.
        PlatformFileState state;
        id current = PlatformPropertyListWithContentsOfFile(devicePath, &state);
        RetainPtr merged;
        if (current && send<bool>(current, isKindOfClass, getClass("NSDictionary")))
            merged = adopt(send<id>(current, mutableCopy));
        else if (state != PlatformFileMissing) {
            id reason = string(current ? "its root is not a dictionary" : "it is no property list Foundation can read");
            if (!keepUnreadableFile(devicePath, reason, result))
                return false;
        }
        if (!merged)
            merged = send<id>(getClass("NSMutableDictionary"), dictionary);
        send(merged, setObjectForKey, value, key);
        return PlatformWritePropertyListAtomically(devicePath, merged);
    } catch (...) {
        return false;
    }
}

id PlatformStringWithUTF8Data(id data)
{
    static SEL const bytes = sel("bytes");
    static SEL const length = sel("length");
    static SEL const alloc = sel("alloc");
    static SEL const initWithBytes = sel("initWithBytes:length:encoding:");
    static SEL const autorelease = sel("autorelease");
    if (!data)
        return nullptr;
    auto start = static_cast<const unsigned char*>(send<const void*>(data, bytes));
    unsigned long size = start ? send<unsigned long>(data, length) : 0;
    if (!isStrictUtf8(start, size))
        return nullptr;
    id text = send<id>(
        send<id>(getClass("NSString"), alloc), initWithBytes, static_cast<const void*>(start), size, utf8Encoding);
    return send<id>(text, autorelease);
}
}
