#include "platform/plist/Encoding.h"

#include <cmath>
#include <cstring>

namespace Platform::Plist {

bool isValidUtf8(std::string_view text, std::size_t& errorOffset)
{
    auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
        // Most property lists are ASCII: check eight bytes at a time.
        while (i + 8 <= size) {
            std::uint64_t word;
            std::memcpy(&word, bytes + i, 8);
            if (word & 0x8080808080808080ull)
                break;
            i += 8;
        }
        if (i >= size)
            break;
        unsigned char lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF)
            length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0)
                low = 0xA0; // overlong
            else if (lead == 0xED)
                high = 0x9F; // surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0)
                low = 0x90; // overlong
            else if (lead == 0xF4)
                high = 0x8F; // above U+10FFFF
        } else {
            errorOffset = i;
            return false;
        }
        if (size - i < length || bytes[i + 1] < low || bytes[i + 1] > high) {
            errorOffset = i;
            return false;
        }
        for (std::size_t k = 2; k < length; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) {
                errorOffset = i;
                return false;
            }
        }
        i += length;
    }
    return true;
}

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80)
        out.push_back(static_cast<char>(c));
    else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

static constexpr char base64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void appendBase64(std::string& out, const Data& data, std::size_t lineLength, std::string_view indent)
{
    std::string encoded;
    encoded.reserve((data.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        std::uint32_t group = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
        encoded.push_back(base64Alphabet[(group >> 18) & 63]);
        encoded.push_back(base64Alphabet[(group >> 12) & 63]);
        encoded.push_back(base64Alphabet[(group >> 6) & 63]);
        encoded.push_back(base64Alphabet[group & 63]);
    }
    if (std::size_t left = data.size() - i) {
        std::uint32_t group = data[i] << 16;
        if (left == 2)
            group |= data[i + 1] << 8;
        encoded.push_back(base64Alphabet[(group >> 18) & 63]);
        encoded.push_back(base64Alphabet[(group >> 12) & 63]);
        encoded.push_back(left == 2 ? base64Alphabet[(group >> 6) & 63] : '=');
        encoded.push_back('=');
    }
    if (!lineLength) {
        out += encoded;
        return;
    }
    for (std::size_t start = 0; start < encoded.size(); start += lineLength) {
        out += indent;
        out.append(encoded, start, lineLength);
        out.push_back('\n');
    }
}

static int base64Digit(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

bool decodeBase64(std::string_view text, Data* out)
{
    if (out) {
        out->clear();
        out->reserve(text.size() / 4 * 3 + 3);
    }
    std::uint32_t bits = 0;
    std::size_t digits = 0;
    std::size_t padding = 0;
    for (unsigned char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
            continue;
        if (c == '=') {
            ++padding;
            continue;
        }
        int digit = base64Digit(c);
        if (digit < 0 || padding)
            return false;
        bits = (bits << 6) | static_cast<std::uint32_t>(digit);
        if (++digits % 4 == 0 && out) {
            out->push_back(static_cast<std::uint8_t>(bits >> 16));
            out->push_back(static_cast<std::uint8_t>(bits >> 8));
            out->push_back(static_cast<std::uint8_t>(bits));
        }
    }
    std::size_t left = digits % 4;
    if (left == 1)
        return false;
    if (padding && (padding > 2 || (digits + padding) % 4))
        return false;
    if (out && left == 2)
        out->push_back(static_cast<std::uint8_t>(bits >> 4));
    if (out && left == 3) {
        out->push_back(static_cast<std::uint8_t>(bits >> 10));
        out->push_back(static_cast<std::uint8_t>(bits >> 2));
    }
    return true;
}

static bool isLeapYear(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

bool isValidCalendarTime(const CalendarTime& time)
{
    static constexpr unsigned daysInMonth[] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    if (time.year < 1 || time.year > 9999 || time.month < 1 || time.month > 12 || time.day < 1)
        return false;
    unsigned days = daysInMonth[time.month - 1] + (time.month == 2 && isLeapYear(time.year));
    return time.day <= days && time.hour < 24 && time.minute < 60 && time.second < 60;
}

// Days from 1970-01-01 in the proleptic Gregorian calendar (Howard Hinnant's algorithm).
static constexpr std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2;
    std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    auto yearOfEra = static_cast<unsigned>(year - era * 400);
    unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

static void civilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day)
{
    days += 719468;
    std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    unsigned monthIndex = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2);
}

static constexpr std::int64_t referenceDay = daysFromCivil(2001, 1, 1);

Date dateFromCalendarTime(const CalendarTime& time)
{
    std::int64_t days = daysFromCivil(time.year, time.month, time.day) - referenceDay;
    std::int64_t seconds = days * 86400 + time.hour * 3600 + time.minute * 60 + time.second;
    return Date { static_cast<double>(seconds) };
}

// 0001-01-01T00:00:00Z, and the first instant after 9999-12-31T23:59:59Z.
static constexpr double earliestDate = static_cast<double>((daysFromCivil(1, 1, 1) - referenceDay) * 86400);
static constexpr double endOfLatestDate = static_cast<double>((daysFromCivil(10000, 1, 1) - referenceDay) * 86400);

bool isRepresentableDate(Date date)
{
    // NaN fails both comparisons; the infinities fail one.
    return date.secondsSinceReferenceDate >= earliestDate && date.secondsSinceReferenceDate < endOfLatestDate;
}

std::optional<CalendarTime> calendarTimeFromDate(Date date)
{
    if (!isRepresentableDate(date))
        return std::nullopt;
    double seconds = std::floor(date.secondsSinceReferenceDate);
    auto whole = static_cast<std::int64_t>(seconds);
    std::int64_t days = whole >= 0 ? whole / 86400 : -((-whole + 86399) / 86400);
    auto secondOfDay = static_cast<unsigned>(whole - days * 86400);
    CalendarTime time {};
    civilFromDays(days + referenceDay, time.year, time.month, time.day);
    time.hour = secondOfDay / 3600;
    time.minute = secondOfDay / 60 % 60;
    time.second = secondOfDay % 60;
    return time;
}

} // namespace Platform::Plist
