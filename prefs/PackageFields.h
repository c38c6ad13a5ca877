// Parsing the status record the package database's query tool prints, with Foundation's
// strings, apart from the tool so that it can be tested and fuzzed on its own.
#pragma once

#include "runtime/ObjC.h"

// The fields of a status record (an NSData of the tool's output) as an NSDictionary of
// NSStrings (autoreleased): lines split at "\n" only, each at its first ": " (name before,
// value after, neither trimmed), the last of equal names winning; lines without ": " are
// skipped. Nil when the bytes are not strict UTF-8, or for nil.
id parsePackageFields(id output);
