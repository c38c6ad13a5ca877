#include "platform/plist/Value.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace Platform::Plist;

// The boolValue/floatValue readings the engine relies on, for every kind.
TEST(PlistValue, ReadingsForEveryKind)
{
    struct Case {
        const char* name;
        Value value;
        bool boolValue;
        float floatValue;
    };
    Dictionary nonEmpty;
    nonEmpty.set("a", Value::boolean(true));
    const Case cases[] = {
        { "true", Value::boolean(true), true, 1.0f },
        { "false", Value::boolean(false), false, 0.0f },
        { "zero", Value::integer(0), false, 0.0f },
        { "integer", Value::integer(3), true, 3.0f },
        { "negative integer", Value::integer(-2), true, -2.0f },
        { "large unsigned", Value::unsignedInteger(UINT64_MAX), true, 18446744073709551615.0f },
        { "real", Value::real(0.1), true, 0.1f },
        { "zero real", Value::real(0.0), false, 0.0f },
        { "negative zero real", Value::real(-0.0), false, 0.0f },
        { "string", Value::string("1"), false, 0.0f },
        { "YES string", Value::string("YES"), false, 0.0f },
        { "data", Value::data({ 1 }), false, 0.0f },
        { "date", Value::date({ 5 }), false, 0.0f },
        { "array", Value(Array { Value::boolean(true) }), false, 0.0f },
        { "dictionary", Value(nonEmpty), false, 0.0f },
        { "uid", Value::uid(1), false, 0.0f },
    };
    for (auto& c : cases) {
        EXPECT_EQ(c.value.boolValue(), c.boolValue) << c.name;
        EXPECT_EQ(c.value.floatValue(), c.floatValue) << c.name;
    }
}

// A real is narrowed to single precision, not read through an integer.
TEST(PlistValue, FloatValueNarrowsReals)
{
    EXPECT_EQ(Value::real(0.3).floatValue(), 0.3f);
    EXPECT_EQ(Value::real(1e300).floatValue(), std::numeric_limits<float>::infinity());
    EXPECT_TRUE(std::isnan(Value::real(NAN).floatValue()));
    EXPECT_TRUE(Value::real(NAN).boolValue());
}

// integerValue truncates reals toward zero and saturates instead of overflowing.
TEST(PlistValue, IntegerValueSaturates)
{
    EXPECT_EQ(Value::real(-2.9).integerValue(), -2);
    EXPECT_EQ(Value::real(1e30).integerValue(), INT64_MAX);
    EXPECT_EQ(Value::real(-1e30).integerValue(), INT64_MIN);
    EXPECT_EQ(Value::real(NAN).integerValue(), 0);
    EXPECT_EQ(Value::unsignedInteger(UINT64_MAX).integerValue(), INT64_MAX);
    EXPECT_EQ(Value::unsignedInteger(UINT64_MAX).unsignedIntegerValue(), UINT64_MAX);
    EXPECT_TRUE(Value::unsignedInteger(UINT64_MAX).isLargeUnsigned());
    EXPECT_FALSE(Value::unsignedInteger(INT64_MAX).isLargeUnsigned());
    EXPECT_EQ(Value::boolean(true).integerValue(), 1);
}

// Equality keeps the kind: an integer 1, a real 1 and boolean true all differ.
TEST(PlistValue, EqualityKeepsTheKind)
{
    EXPECT_NE(Value::integer(1), Value::real(1));
    EXPECT_NE(Value::integer(1), Value::boolean(true));
    EXPECT_NE(Value::string("a"), Value::data({ 'a' }));
    EXPECT_EQ(Value::unsignedInteger(5), Value::integer(5));
    Value a = Value(Array { Value::string("x"), Value::date({ 1.5 }) });
    Value b = a;
    EXPECT_EQ(a, b);
    b.asArray()->push_back(Value::integer(0));
    EXPECT_NE(a, b);
}

// Keys are kept in byte order; of duplicates in file order the last wins.
TEST(PlistValue, DictionaryOrderAndDuplicates)
{
    std::vector<Dictionary::Entry> entries;
    entries.emplace_back("b", Value::integer(1));
    entries.emplace_back("\xC3\xA9", Value::integer(2));
    entries.emplace_back("a", Value::integer(3));
    entries.emplace_back("b", Value::integer(4));
    entries.emplace_back("B", Value::integer(5));
    Dictionary dictionary = Dictionary::fromEntries(std::move(entries));
    std::vector<std::string> keys;
    for (auto& [key, value] : dictionary)
        keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string> { "B", "a", "b", "\xC3\xA9" }));
    EXPECT_EQ(dictionary.find("b")->integerValue(), 4);
    EXPECT_EQ(dictionary.find("c"), nullptr);

    dictionary.set("c", Value::boolean(true));
    dictionary.set("a", Value::boolean(false));
    EXPECT_EQ(dictionary.size(), 5u);
    EXPECT_EQ(*dictionary.find("a"), Value::boolean(false));
    EXPECT_TRUE(dictionary.remove("a"));
    EXPECT_FALSE(dictionary.remove("a"));
    EXPECT_FALSE(dictionary.contains("a"));
}
