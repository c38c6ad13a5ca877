// PloverPackage: what the device's package database records for a package, as its query tool
// prints it. Only the version is kept. The class is registered when the bundle loads:
//
//     + (PloverPackage*)packageWithIdentifier:(NSString*)identifier
//         Runs "/usr/bin/dpkg-query -s IDENTIFIER" and reads its record, without waiting for the
//         tool to exit. Answers a package (autoreleased; nil only when not even that can be
//         made); its version is nil when the record has no "Version" field, when the output is
//         not UTF-8 or could not be read whole, or when the tool cannot be started. Never raises.
//     - (NSString*)version, - (void)setVersion:(NSString*)
#pragma once

#include "prefs/PackageFields.h"
