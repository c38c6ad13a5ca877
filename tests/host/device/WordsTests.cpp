// Words as the scenario language, the command line and the timeline write them: any text
// written as a word reads back as the same text.
#include "host/device/Words.h"

#include <gtest/gtest.h>

namespace {

TEST(Words, QuotesKeepBlanksAndCommentsEndTheLine)
{
    auto words = Device::splitWords("expect log \"a # b\"  # a comment");
    ASSERT_TRUE(words);
    EXPECT_EQ(*words, (std::vector<std::string> { "expect", "log", "\"a # b\"" }));
    EXPECT_FALSE(Device::splitWords("expect log \"unterminated"));
}

TEST(Words, AnyTextWrittenAsAWordReadsBackTheSame)
{
    for (std::string text : { "", "plain", "two words", "say \"hi\"", "c:\\", "\\\"", "# not a comment", "nil", "yes",
             "3", "tab\there", "\xff\xfe" }) {
        for (auto written : { Device::displayWord(text), Device::quotedWord(text) }) {
            auto words = Device::splitWords("set " + written + " end");
            ASSERT_TRUE(words) << written << ": " << words.error();
            ASSERT_EQ(words->size(), 3u) << written;
            EXPECT_EQ(Device::unquote((*words)[1]), text) << written;
        }
        EXPECT_TRUE(Device::isQuoted(Device::quotedWord(text))) << "always quoted: " << text;
    }
    EXPECT_EQ(Device::displayWord(std::string("nil")), "\"nil\"") << "the text nil is not nil";
    EXPECT_EQ(Device::displayWord(std::nullopt), "nil");
    EXPECT_FALSE(Device::fitsOnALine("two\nlines"));
    EXPECT_FALSE(Device::fitsOnALine(std::string("nul\0", 4)));
    EXPECT_TRUE(Device::fitsOnALine("one line"));
}

} // namespace
