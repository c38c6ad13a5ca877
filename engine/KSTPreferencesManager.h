// The engine's only way to the user's options: the settings file, read afresh at every
// lookup, with a table of defaults behind it. No state, no cache. Values are Foundation
// objects, as the settings file's property list holds them. The runtime class
// KSTPreferencesManager answers the same as class methods (+getPrefForKey: and the rest).
#pragma once

#include "runtime/ObjC.h"

// The settings file's path, exported for whoever wants it; the store itself uses the literal.
extern "C" __attribute__((visibility("default"))) const char* const nsPreferenceFile;

class KSTPreferencesManager {
public:
    KSTPreferencesManager() = delete;

    // The nine engine options and their defaults, a dictionary built afresh on every call.
    static id defaultPrefs();
    // The stored value, else the default, else nil (and a line in the system log).
    static id getPrefForKey(id key);
    // The file's dictionary: empty when there is no file, nil when it cannot be read as one.
    static id getPrefs();
    // Replaces the whole file atomically; a failed write is ignored.
    static void savePrefs(id preferences);
    static id kCurrentVersion();
};

// The readings every caller takes at once. Only a number has a reading: anything else, and
// a missing value, reads NO / 0.0, as a message to nil would.
bool boolPref(const char* key);
float floatPref(const char* key);
