// What every fuzz input must satisfy besides not crashing: a lookup agrees with a full read,
// and what the writer writes reads back to the same text.
#pragma once

#include "platform/plist/PropertyList.h"

#include <cstdlib>
#include <string_view>

namespace FuzzPlist {

inline void check(std::string_view bytes)
{
    using namespace Platform::Plist;
    ReadResult result = parse(bytes);
    const Dictionary* root = result.ok() ? result.value.asDictionary() : nullptr;

    // The first key of the root, a key that is absent, and the empty key.
    std::string firstKey = root && !root->isEmpty() ? root->begin()->first : std::string("a");
    for (std::string_view key : { std::string_view(firstKey),
             std::string_view("\x01"
                              "absent"),
             std::string_view() }) {
        LookupResult looked = lookupInBytes(bytes, key);
        if (!root) {
            if (looked.status != LookupStatus::Unreadable)
                std::abort();
            continue;
        }
        const Value* expected = root->find(key);
        if (looked.status != (expected ? LookupStatus::Found : LookupStatus::KeyAbsent))
            std::abort();
        // Compared through the writer: NaN never equals itself as a value.
        if (expected && toXml(looked.value) != toXml(*expected))
            std::abort();
    }

    if (!result.ok())
        return;
    std::string written = toXml(result.value);
    ReadResult again = parse(written);
    if (!again.ok() || toXml(again.value) != written)
        std::abort();
}

} // namespace FuzzPlist
