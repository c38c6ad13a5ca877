// Writing property lists in the platform's XML form, and replacing a file atomically so that a
// reader never sees a torn file.
#pragma once

#include "platform/plist/Value.h"

#include <string>
#include <string_view>

namespace Platform::Plist {

// The XML form exactly as the platform writes it: its header and DOCTYPE, tab indentation,
// dictionary keys in byte order, reals as %.17g (nan, +infinity, -infinity when not finite),
// base64 data in lines that fit 76 columns with their indentation (as the platform wraps them),
// dates to the second in UTC, UIDs as CF$UID dictionaries. A date that is not finite or falls
// outside years 1 to 9999 has no XML form: std::invalid_argument (the readers never produce one).
std::string toXml(const Value& root);

// Writes a temporary file beside the target, fsyncs it, renames it over the target and fsyncs
// the directory. On failure the target is untouched, the temporary file is gone, and the answer
// is false. A target that exists keeps its permission bits; a new one gets 0644. A value toXml
// cannot write is refused the same way: false, and nothing is touched.
bool replaceFileAtomically(const std::string& hostPath, std::string_view contents);
bool writeFileAtomically(const std::string& hostPath, const Value& root);

} // namespace Platform::Plist
