// The platform's C-level calls that the system's own code (engine/, prefs/) makes beside
// the runtime and Foundation: libdispatch's main queue, CoreFoundation's Darwin notify
// center, the system log, device files and programs, property-list files, the running
// system's version and the trace hook. Each is declared as the system's own call where it
// has one (dispatch_after_f, CFNotificationCenterAddObserver, NSLog); the rest take device
// paths, which on a simulated device are resolved under its root and on a phone are the
// paths themselves. Only <cstddef> and <cstdint> are needed, so this builds for a phone.
#pragma once

#include "runtime/ObjCRuntime.h"

#include <cstddef>
#include <cstdint>

// The path of a file the jailbreak installs (a package's file, killall, dpkg-query), as the
// build's package scheme places it: as the system names it on a rootful jailbreak, under
// /var/jb on a rootless one. The build defines KESTREL_JAILBREAK_ROOT ("" or "/var/jb") for the
// code that names such paths, in one place (cmake/JailbreakScheme.cmake). The user's settings
// file is in the same place under both schemes and is never given the prefix.
#define KESTREL_JAILBREAK_PATH(path) KESTREL_JAILBREAK_ROOT path

extern "C" {

// ---- libdispatch: the main queue -------------------------------------------------------------

typedef struct PlatformDispatchQueue* dispatch_queue_t;
typedef uint64_t dispatch_time_t;
typedef long dispatch_once_t;
typedef void (*dispatch_function_t)(void*);
#define DISPATCH_TIME_NOW (0ull)
#define DISPATCH_TIME_FOREVER (~0ull)
#define NSEC_PER_SEC 1000000000ull

dispatch_queue_t dispatch_get_main_queue(void);
// now (DISPATCH_TIME_NOW) or when, plus delta nanoseconds, on the queue's clock; a sum past
// the clock's range is DISPATCH_TIME_FOREVER, one before its start is now.
dispatch_time_t dispatch_time(dispatch_time_t when, int64_t delta);
// Runs function(context) on the main thread, in its turn; each call in an autorelease pool.
void dispatch_async_f(dispatch_queue_t, void* context, dispatch_function_t);
// Runs it once `when` has come (at once, in its turn, if it has); DISPATCH_TIME_FOREVER never.
void dispatch_after_f(dispatch_time_t when, dispatch_queue_t, void* context, dispatch_function_t);
// Runs function(context) exactly once per predicate, whichever thread gets there first.
void dispatch_once_f(dispatch_once_t* predicate, void* context, dispatch_function_t);

// ---- CoreFoundation's Darwin notify center --------------------------------------------------

typedef const struct __CFString* CFStringRef;
typedef const struct __CFDictionary* CFDictionaryRef;
typedef struct __CFNotificationCenter* CFNotificationCenterRef;
typedef void (*CFNotificationCallback)(
    CFNotificationCenterRef center, void* observer, CFStringRef name, const void* object, CFDictionaryRef userInfo);
typedef enum {
    CFNotificationSuspensionBehaviorDrop = 1,
    CFNotificationSuspensionBehaviorCoalesce = 2,
    CFNotificationSuspensionBehaviorHold = 3,
    CFNotificationSuspensionBehaviorDeliverImmediately = 4
} CFNotificationSuspensionBehavior;

CFNotificationCenterRef CFNotificationCenterGetDarwinNotifyCenter(void);
// Names only: the callback gets the observer pointer, the name (an NSString) and null object
// and user info. Callbacks run on the notify delivery thread, in an autorelease pool.
void CFNotificationCenterAddObserver(CFNotificationCenterRef, const void* observer, CFNotificationCallback,
    CFStringRef name, const void* object, CFNotificationSuspensionBehavior);
void CFNotificationCenterPostNotification(
    CFNotificationCenterRef, CFStringRef name, const void* object, CFDictionaryRef userInfo, BOOL deliverImmediately);

// CoreFoundation's version number of the running system (1348.00 for iOS 10.0 ...).
extern double kCFCoreFoundationVersionNumber;

// ---- Foundation's system log ----------------------------------------------------------------

// One line in the system log, formatted as Foundation formats (%@ for objects).
void NSLog(id format, ...);

// ---- Device files and programs --------------------------------------------------------------

BOOL PlatformFileExists(const char* devicePath);
// dlopen of a device path.
void* PlatformOpenLibrary(const char* devicePath, int mode);
// posix_spawn of a device path with exactly argv and envp, no file actions, no attributes;
// the child is reaped when it ends. 0, or the error number.
int PlatformSpawn(int* pid, const char* devicePath, char* const argv[], char* const envp[]);
// Runs a device program with arguments (argv[0] is the path) and returns all it wrote to
// its standard output (an NSData, autoreleased), or nil when it could not start or its output
// could not be read whole.
id PlatformRunAndReadOutput(const char* devicePath, const char* const* arguments, size_t count);

// ---- Property-list files --------------------------------------------------------------------

typedef enum {
    PlatformFileRead = 0,
    PlatformFileMissing = 1,
    PlatformFileUnreadable = 2,
} PlatformFileState;

// The property list in a file (XML or binary) as Foundation objects, autoreleased; nil when
// the file is missing or is not one (and *state says which). Every file is read as hostile.
id PlatformPropertyListWithContentsOfFile(const char* devicePath, PlatformFileState* state);
// The value under key in the file's root dictionary, building nothing else; nil when the
// file, its dictionary or the key is missing (*state: Read when only the key is).
id PlatformPropertyListEntry(const char* devicePath, id key, PlatformFileState* state);
// Writes a property list (XML) in place of the file, atomically. NO when it could not.
BOOL PlatformWritePropertyListAtomically(const char* devicePath, id propertyList);

// ---- The running system ---------------------------------------------------------------------

// @available(iOS major.minor, *)
BOOL PlatformIsSystemVersionAtLeast(int major, int minor);

// ---- The trace hook -------------------------------------------------------------------------

// A report for whoever watches the device (the simulator, its checks): a name and pairs of
// field names and values. Nothing happens when nobody listens; nothing reaches the log.
void PlatformTrace(const char* report, const char* const* namesAndValues, size_t pairCount);
}
