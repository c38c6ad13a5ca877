// The controller of the settings pane's root page, kestrelprefsRootListController (a
// PSListController, the bundle's principal class): its rows come from the bundle's "Root"
// specifier list; every value is read from the settings file at the moment it is shown and
// written back at once, keeping every other entry. The class is registered when the bundle
// loads; besides the list controller's messages it answers respring, twitterlink, shouldReload
// and setShouldReload:.
#pragma once

#include "runtime/ObjC.h"

extern "C" __attribute__((visibility("default"))) const char* const nsPreferencesPath;

// The address the pane's profile button opens.
extern const char* const kestrelProfileAddress;

// How the pane shows a value inside text (an NSString, autoreleased): as Foundation's
// formatter shows it, nil as "(null)".
id describeValue(id value);
