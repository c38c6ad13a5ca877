// A value by what it holds, for code that writes values out: every printer of a value
// (a check's words, the pane's list, the page's JSON) takes its kinds from here.
#pragma once

#include "platform/plist/Value.h"

namespace Platform::Plist {

// Calls visitor with the boolean, the integer (int64_t, or uint64_t above INT64_MAX), the
// real (double) or the text (const std::string&) the value holds, or with its Kind for the
// kinds that hold no single scalar. Every call must give the same type.
template <typename Visitor> decltype(auto) visitScalar(const Value& value, Visitor&& visitor)
{
    switch (value.kind()) {
    case Kind::Boolean:
        return visitor(value.boolValue());
    case Kind::Integer:
        if (value.isLargeUnsigned())
            return visitor(value.unsignedIntegerValue());
        return visitor(value.integerValue());
    case Kind::Real:
        return visitor(value.doubleValue());
    case Kind::String:
        return visitor(*value.asString());
    case Kind::Data:
    case Kind::Date:
    case Kind::Array:
    case Kind::Dictionary:
    case Kind::Uid:
        break;
    }
    return visitor(value.kind());
}

} // namespace Platform::Plist
