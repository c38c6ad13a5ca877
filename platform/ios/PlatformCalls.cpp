// The platform's C-level calls on a phone. libdispatch, the Darwin notify center and NSLog are
// the system's own (PlatformCalls.h only declares them); the rest are written here on the
// system's public interfaces: the C library's files, dlopen, posix_spawn and pipes, Foundation's
// property lists and NSProcessInfo. Device paths are the phone's own paths. No SDK is used:
// what this file calls is declared below from the interfaces' documentation.
#include "platform/foundation/PlatformCalls.h"

#include "runtime/ObjC.h"

#include <cstddef>
#include <cstdint>

extern "C" {

// ---- Darwin's C library, as its manual pages give it -------------------------------------

typedef int pid_t;
typedef long ssize_t;
typedef void* posix_spawn_file_actions_t;
typedef void* posix_spawnattr_t;

int access(const char* path, int mode);
void* dlopen(const char* path, int mode);
int pipe(int ends[2]);
int fcntl(int fd, int command, ...);
int close(int fd);
ssize_t read(int fd, void* buffer, size_t count);
pid_t waitpid(pid_t, int* status, int options);
int* __error(void);
char*** _NSGetEnviron(void);
int posix_spawn(pid_t*, const char* path, const posix_spawn_file_actions_t*, const posix_spawnattr_t*,
    char* const argv[], char* const envp[]);
int posix_spawn_file_actions_init(posix_spawn_file_actions_t*);
int posix_spawn_file_actions_destroy(posix_spawn_file_actions_t*);
int posix_spawn_file_actions_adddup2(posix_spawn_file_actions_t*, int fd, int newFd);

dispatch_queue_t dispatch_get_global_queue(long identifier, unsigned long flags);
// The main queue is an object of libdispatch's; dispatch_get_main_queue() is its address.
extern struct PlatformDispatchQueue _dispatch_main_q;
}

namespace {

constexpr int existsMode = 0; // F_OK
constexpr int duplicateAboveCloseOnExec = 67; // F_DUPFD_CLOEXEC
constexpr int interrupted = 4; // EINTR
constexpr int invalidArgument = 22; // EINVAL
constexpr int outOfMemory = 12; // ENOMEM
constexpr int standardOutput = 1;
constexpr int standardError = 2;
constexpr size_t outputLimit = 16 * 1024 * 1024;

// NSPropertyListSerialization's constants.
constexpr unsigned long immutableContainers = 0; // NSPropertyListImmutable
constexpr unsigned long xmlFormat = 100; // NSPropertyListXMLFormat_v1_0

struct OperatingSystemVersion {
    long majorVersion;
    long minorVersion;
    long patchVersion;
};

using namespace ObjC;

void reap(void* context)
{
    pid_t child = pid_t(reinterpret_cast<intptr_t>(context));
    int status;
    while (waitpid(child, &status, 0) < 0 && *__error() == interrupted) { }
}

// The child is waited for on a queue of the system's, whenever it ends.
void reapWhenItEnds(pid_t child)
{
    dispatch_async_f(dispatch_get_global_queue(0, 0), reinterpret_cast<void*>(intptr_t(child)), &reap);
}

// A descriptor above the standard three, close-on-exec, so that the child's dup2 onto its
// standard output is a real copy; the original is closed either way.
int aboveStandardDescriptors(int fd)
{
    int moved = fcntl(fd, duplicateAboveCloseOnExec, standardError + 1);
    close(fd);
    return moved;
}

id dataWithContentsOfFile(const char* path)
{
    static SEL const withContents = sel("dataWithContentsOfFile:");
    return send<id>(getClass("NSData"), withContents, string(path));
}

// The file's property list, or nil with *state saying why.
id readPropertyList(const char* path, PlatformFileState* state)
{
    static SEL const propertyListWithData = sel("propertyListWithData:options:format:error:");
    PlatformFileState found = PlatformFileRead;
    id propertyList = nullptr;
    if (!path || access(path, existsMode))
        found = PlatformFileMissing;
    else if (id data = dataWithContentsOfFile(path))
        propertyList = send<id>(getClass("NSPropertyListSerialization"), propertyListWithData, data,
            immutableContainers, static_cast<unsigned long*>(nullptr), static_cast<id*>(nullptr));
    if (found == PlatformFileRead && !propertyList)
        found = PlatformFileUnreadable;
    if (state)
        *state = found;
    return propertyList;
}

} // namespace

#if KESTREL_CHECKED_SENDS
// What checked sends compare these arguments with.
namespace ObjC {
template<> struct TypeEncoding<OperatingSystemVersion> {
    static constexpr const char* value = "{?=qqq}";
};
template<> struct TypeEncoding<unsigned long*> {
    static constexpr const char* value = "^Q";
};
} // namespace ObjC
#endif

extern "C" {

dispatch_queue_t dispatch_get_main_queue(void) { return &_dispatch_main_q; }

BOOL PlatformFileExists(const char* devicePath) { return devicePath && !access(devicePath, existsMode); }

void* PlatformOpenLibrary(const char* devicePath, int mode) { return devicePath ? dlopen(devicePath, mode) : nullptr; }

int PlatformSpawn(int* pid, const char* devicePath, char* const argv[], char* const envp[])
{
    if (!devicePath)
        return invalidArgument;
    pid_t child = -1;
    int error = posix_spawn(&child, devicePath, nullptr, nullptr, argv, envp);
    if (!error)
        reapWhenItEnds(child);
    if (pid)
        *pid = error ? -1 : child;
    return error;
}

id PlatformRunAndReadOutput(const char* devicePath, const char* const* arguments, size_t count)
{
    if (!devicePath)
        return nullptr;
    int ends[2];
    if (pipe(ends))
        return nullptr;
    int readEnd = aboveStandardDescriptors(ends[0]);
    int writeEnd = aboveStandardDescriptors(ends[1]);
    auto closeBoth = [&] {
        if (readEnd >= 0)
            close(readEnd);
        if (writeEnd >= 0)
            close(writeEnd);
    };
    if (readEnd < 0 || writeEnd < 0) {
        closeBoth();
        return nullptr;
    }

    // argv: the path, then the arguments unchanged.
    char** argv = new char*[count + 2];
    argv[0] = const_cast<char*>(devicePath);
    for (size_t index = 0; index < count; ++index)
        argv[index + 1] = const_cast<char*>(arguments[index] ? arguments[index] : "");
    argv[count + 1] = nullptr;

    posix_spawn_file_actions_t actions;
    int error = posix_spawn_file_actions_init(&actions) ? outOfMemory : 0;
    pid_t child = -1;
    if (!error) {
        error = posix_spawn_file_actions_adddup2(&actions, writeEnd, standardOutput);
        if (!error)
            error = posix_spawn(&child, devicePath, &actions, nullptr, argv, *_NSGetEnviron());
        posix_spawn_file_actions_destroy(&actions);
    }
    delete[] argv;
    close(writeEnd);
    writeEnd = -1;
    if (error) {
        closeBoth();
        return nullptr;
    }
    reapWhenItEnds(child);

    static SEL const data = sel("data");
    static SEL const appendBytes = sel("appendBytes:length:");
    static SEL const length = sel("length");
    id output = send<id>(getClass("NSMutableData"), data);
    char buffer[16384];
    bool complete = false;
    for (;;) {
        ssize_t got = read(readEnd, buffer, sizeof buffer);
        if (got < 0 && *__error() == interrupted)
            continue;
        if (got <= 0) {
            complete = !got;
            break;
        }
        if (send<unsigned long>(output, length) + size_t(got) > outputLimit)
            break;
        send(output, appendBytes, static_cast<const void*>(buffer), static_cast<unsigned long>(got));
    }
    closeBoth();
    return complete ? output : nullptr;
}

id PlatformPropertyListWithContentsOfFile(const char* devicePath, PlatformFileState* state)
{
    return readPropertyList(devicePath, state);
}

id PlatformPropertyListEntry(const char* devicePath, id key, PlatformFileState* state)
{
    static SEL const isKindOfClass = sel("isKindOfClass:");
    static SEL const objectForKey = sel("objectForKey:");
    PlatformFileState found;
    id propertyList = readPropertyList(devicePath, &found);
    if (propertyList && !send<bool>(propertyList, isKindOfClass, getClass("NSDictionary"))) {
        propertyList = nullptr;
        found = PlatformFileUnreadable;
    }
    if (state)
        *state = found;
    return key ? send<id>(propertyList, objectForKey, key) : nullptr;
}

BOOL PlatformWritePropertyListAtomically(const char* devicePath, id propertyList)
{
    static SEL const dataWithPropertyList = sel("dataWithPropertyList:format:options:error:");
    static SEL const writeToFile = sel("writeToFile:atomically:");
    if (!devicePath || !propertyList)
        return false;
    id data = send<id>(getClass("NSPropertyListSerialization"), dataWithPropertyList, propertyList, xmlFormat, 0ul,
        static_cast<id*>(nullptr));
    return send<bool>(data, writeToFile, string(devicePath), true);
}

BOOL PlatformIsSystemVersionAtLeast(int major, int minor)
{
    static SEL const processInfo = sel("processInfo");
    static SEL const atLeast = sel("isOperatingSystemAtLeastVersion:");
    id info = send<id>(getClass("NSProcessInfo"), processInfo);
    return send<bool>(info, atLeast, OperatingSystemVersion { major, minor, 0 });
}

// Nobody watches a phone's trace.
void PlatformTrace(const char*, const char* const*, size_t) { }
}
