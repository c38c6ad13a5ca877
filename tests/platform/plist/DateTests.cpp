// Dates that no calendar time stands for are refused, never moved to a nearby date: a binary
// date that is NaN, infinite or outside years 1 to 9999, and an XML date outside those years or
// malformed. The edges themselves pass through unchanged.
#include "PlistTestSupport.h"

#include <cmath>
#include <cstring>
#include <limits>

using namespace Platform::Plist;
using PlistTest::BinaryBuilder;

namespace {

std::string binaryDateFile(double seconds)
{
    std::uint64_t bits;
    std::memcpy(&bits, &seconds, sizeof(bits));
    BinaryBuilder builder;
    builder.add("\x33" + BinaryBuilder::bigEndian(bits, 8));
    return builder.build();
}

std::string xmlDateFile(const std::string& text)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<date>" + text + "</date>\n</plist>\n";
}

// 0001-01-01T00:00:00Z and 10000-01-01T00:00:00Z in seconds from the 2001 reference date.
constexpr double firstInstant = -63113904000.0;
constexpr double endOfLastYear = 252423993600.0;

} // namespace

TEST(PlistDates, ImpossibleDatesAreUnreadableAndNeverClamped)
{
    double nan = std::numeric_limits<double>::quiet_NaN();
    double infinity = std::numeric_limits<double>::infinity();
    for (double seconds : { nan, -nan, infinity, -infinity, firstInstant - 0.5, firstInstant - 86400.0 * 366,
             endOfLastYear, endOfLastYear + 1, 1e300, -1e300 }) {
        ReadResult result = parse(binaryDateFile(seconds));
        EXPECT_EQ(result.status, ReadStatus::Unreadable) << seconds;
        EXPECT_EQ(result.reason, "binary: date out of range") << seconds;
    }

    // The first and last representable instants read, and write, as themselves.
    const std::pair<double, const char*> edges[] = {
        { firstInstant, "0001-01-01T00:00:00Z" },
        { endOfLastYear - 0.25, "9999-12-31T23:59:59Z" },
        { 0.0, "2001-01-01T00:00:00Z" },
    };
    for (auto& [seconds, text] : edges) {
        ReadResult result = parse(binaryDateFile(seconds));
        ASSERT_TRUE(result.ok()) << seconds << ": " << result.reason;
        EXPECT_EQ(result.value, Value::date({ seconds }));
        EXPECT_NE(toXml(result.value).find(std::string("<date>") + text + "</date>"), std::string::npos) << text;
        ReadResult fromXml = parse(xmlDateFile(text));
        ASSERT_TRUE(fromXml.ok()) << text << ": " << fromXml.reason;
        EXPECT_EQ(fromXml.value, Value::date({ std::floor(seconds) }));
    }

    for (const char* text : { "0000-12-31T23:59:59Z", "0000-01-01T00:00:00Z", "10000-01-01T00:00:00Z",
             "-0001-01-01T00:00:00Z", "2001-13-01T00:00:00Z", "2001-00-10T00:00:00Z", "2001-01-32T00:00:00Z",
             "2001-02-29T00:00:00Z", "1900-02-29T00:00:00Z", "2001-01-01T24:00:00Z", "2001-01-01T00:60:00Z",
             "2001-01-01T00:00:60Z", "2001-01-01T00:00:00", "2001-01-01 00:00:00Z", "2001-1-01T00:00:00Z",
             "2001-01-01T00:00:00.5Z", "", "now" }) {
        ReadResult result = parse(xmlDateFile(text));
        EXPECT_EQ(result.status, ReadStatus::Unreadable) << text;
    }
    EXPECT_TRUE(parse(xmlDateFile("2000-02-29T00:00:00Z")).ok()) << "a leap day";

    // Made in code, such a date has no XML form: the writer refuses it and touches nothing.
    PlistTest::ScratchDirectory scratch;
    std::string target = scratch.write("settings.plist", "old contents");
    for (double seconds : { nan, infinity, endOfLastYear }) {
        Value value(Array { Value::date({ seconds }) });
        EXPECT_THROW(toXml(value), std::invalid_argument) << seconds;
        EXPECT_FALSE(writeFileAtomically(target, value)) << seconds;
        EXPECT_EQ(PlistTest::readWholeFile(target), "old contents");
    }
}
