// Text between Foundation and the platform: an NSString's UTF-8 bytes come back exactly,
// whatever it holds (NULs, characters beyond the basic plane) and however long it is.
#include "platform/foundation/FoundationValue.h"

#include <gtest/gtest.h>
#include <string>

using namespace std::string_literals;

namespace {

TEST(FoundationText, AStringsBytesComeBackExactlyAtEveryLength)
{
    const std::string texts[] = { "", "DisableIfNotifications", "p\xc3\xa4ss", "\xf0\x9f\x98\x80 face", "a\0b\0"s,
        "\0"s, std::string(42, 'x'), std::string(43, 'y'), std::string(41, 'a') + "\xc3\xa4", std::string(84, 'x'),
        std::string(1000, 'z') + "\0end"s, std::string(200, '\0'), "\xe2\x82\xac"s + std::string(41, 'e'),
        std::string(40, 'f') + "\xf0\x9f\x98\x80" };
    for (auto& text : texts) {
        SCOPED_TRACE(text.size());
        id string = Platform::makeString(text);
        ASSERT_TRUE(string);
        auto back = Platform::stringValue(string);
        ASSERT_TRUE(back);
        EXPECT_EQ(*back, text);
    }
}

TEST(FoundationText, OnlyAStringHasText)
{
    EXPECT_FALSE(Platform::stringValue(nullptr));
    EXPECT_FALSE(Platform::stringValue(ObjC::number(12ll)));
    EXPECT_FALSE(Platform::makeString("\xff\xfe")) << "bytes that are no UTF-8 make no string";
}

} // namespace
