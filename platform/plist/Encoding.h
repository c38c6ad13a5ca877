// Text and byte encodings the property-list forms share: UTF-8 checks, base64, and calendar
// dates as seconds since the 2001 reference date.
#pragma once

#include "platform/plist/Value.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Platform::Plist {

// Rejects overlong forms, surrogates and code points above U+10FFFF. On failure `errorOffset`
// is the offset of the first bad byte.
bool isValidUtf8(std::string_view, std::size_t& errorOffset);
void appendUtf8(std::string&, char32_t codePoint);

// Standard alphabet with padding; `lineLength` characters a line (each line prefixed with
// `indent` and ended by '\n'), or one unbroken run when `lineLength` is 0.
void appendBase64(std::string& out, const Data&, std::size_t lineLength, std::string_view indent);
// Whitespace anywhere is ignored; the padding may be missing. With a null `out` it only checks.
bool decodeBase64(std::string_view, Data* out);

struct CalendarTime {
    std::int64_t year;
    unsigned month; // 1...12
    unsigned day; // 1...31
    unsigned hour;
    unsigned minute;
    unsigned second;
};

// A real day and time of a year from 1 to 9999.
bool isValidCalendarTime(const CalendarTime&);
Date dateFromCalendarTime(const CalendarTime&);
// Whether the date has a calendar time: finite, and from 0001-01-01T00:00:00Z to the last
// instant of 9999. Anything else is never changed into a nearby date: readers reject it.
bool isRepresentableDate(Date);
// Whole seconds, rounded down; nullopt when the date is not representable.
std::optional<CalendarTime> calendarTimeFromDate(Date);

} // namespace Platform::Plist
