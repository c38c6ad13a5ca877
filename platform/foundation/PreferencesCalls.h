// The platform's C-level calls for a settings pane, beside PlatformCalls.h: changing one entry
// of a preferences file while other writers may be at it, and reading a tool's output as text
// exactly when it is strict UTF-8. Only <cstddef> is needed, so this builds for a phone.
#pragma once

#include "runtime/ObjCRuntime.h"

#include <cstddef>

extern "C" {

// What an update found and did beside writing.
typedef struct {
    // The file in place was no property-list dictionary (a folder does not count): why, as an
    // NSString (autoreleased); nil otherwise.
    id unreadableReason;
    // Such a file was first renamed to NAME.unreadable (taking the place of an older one), so
    // that the write, which starts from nothing, loses none of it.
    BOOL keptAside;
    // Such a file could not be moved aside: why (an NSString); it was left as it is and
    // nothing was written.
    id keepAsideFailure;
} PlatformPreferencesUpdate;

// Sets key (an NSString) to value (a property-list object) in the dictionary of the property-list
// file at a device path, keeping every other entry, and replaces the file atomically. Writers of
// one folder take turns under an exclusive lock on it, waited for at most 2 seconds (a holder
// that keeps it longer must not hang the caller: the write then goes ahead without it). A folder
// that has gone is made again; temporary files of this file older than a minute, left by
// writers that were killed, are removed. YES when the file now holds the entry; outcome, when
// given, says what else happened.
BOOL PlatformUpdatePreferencesFile(const char* devicePath, id key, id value, PlatformPreferencesUpdate* outcome);

// The text of data (an NSData) as an NSString (autoreleased), exactly when its bytes are strict
// UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF. Nil otherwise, or for nil.
id PlatformStringWithUTF8Data(id data);
}
