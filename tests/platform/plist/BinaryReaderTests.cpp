#include "PlistTestSupport.h"

#include <chrono>

using namespace Platform::Plist;
using PlistTest::BinaryBuilder;
using PlistTest::TrailerField;
using PlistTest::withTrailerField;

// { "a": [1, "x"], "b": true }
static std::string smallDictionaryFile()
{
    BinaryBuilder builder;
    builder.addContainer(0xD, { 1, 2, 3, 4 });
    builder.addAscii("a");
    builder.addAscii("b");
    builder.addArray({ 5, 6 });
    builder.add("\x09");
    builder.add(std::string("\x10\x01", 2));
    builder.addAscii("x");
    return builder.build();
}

// A file whose root is the single object `encoded`.
static std::string singleObjectFile(const std::string& encoded)
{
    BinaryBuilder builder;
    builder.add(encoded);
    return builder.build();
}

TEST(PlistBinaryReader, ReadsHandMadeFile)
{
    ReadResult result = parse(smallDictionaryFile());
    ASSERT_TRUE(result.ok()) << result.reason;
    Dictionary expected;
    expected.set("a", Value(Array { Value::integer(1), Value::string("x") }));
    expected.set("b", Value::boolean(true));
    EXPECT_EQ(result.value, Value(expected));
}

// Trailer and offset-table bounds: each broken field is refused.
TEST(PlistBinaryReader, RejectsBadTrailers)
{
    std::string good = smallDictionaryFile();
    std::uint64_t tableOffset = good.size() - 32 - 7;
    const std::pair<const char*, std::string> cases[] = {
        { "shorter than header and trailer", good.substr(0, 39) },
        { "other version", "bplist15" + good.substr(8) },
        { "offset size 0", withTrailerField(good, TrailerField::OffsetSize, 0) },
        { "offset size 9", withTrailerField(good, TrailerField::OffsetSize, 9) },
        { "reference size 0", withTrailerField(good, TrailerField::ReferenceSize, 0) },
        { "object count 0", withTrailerField(good, TrailerField::ObjectCount, 0) },
        { "huge object count", withTrailerField(good, TrailerField::ObjectCount, UINT64_MAX / 2) },
        { "count overflowing the table size",
            withTrailerField(
                withTrailerField(good, TrailerField::OffsetSize, 8), TrailerField::ObjectCount, UINT64_MAX / 4) },
        { "top object = count", withTrailerField(good, TrailerField::TopObject, 7) },
        { "table before byte 8", withTrailerField(good, TrailerField::TableOffset, 4) },
        { "table at byte 8", withTrailerField(good, TrailerField::TableOffset, 8) },
        { "table overlapping the trailer", withTrailerField(good, TrailerField::TableOffset, tableOffset + 1) },
        { "table offset beyond the file", withTrailerField(good, TrailerField::TableOffset, UINT64_MAX - 3) },
        { "offset into the table", std::string(good).replace(tableOffset, 1, 1, static_cast<char>(tableOffset)) },
        { "offset before the first object", std::string(good).replace(tableOffset, 1, 1, '\x03') },
    };
    for (auto& [name, file] : cases) {
        ReadResult result = parse(file);
        EXPECT_FALSE(result.ok()) << name;
        EXPECT_EQ(result.reason.rfind("binary: ", 0), 0u) << name << ": " << result.reason;
    }

    EXPECT_EQ(parse("bplisx00" + good.substr(8)).reason, "not a property list");

    // 256 objects cannot all be named by one-byte references.
    BinaryBuilder wide;
    wide.offsetSize = 2;
    std::vector<std::uint64_t> elements;
    for (std::uint64_t i = 1; i < 256; ++i)
        elements.push_back(i);
    wide.addArray(elements);
    for (std::uint64_t i = 1; i < 256; ++i)
        wide.add("\x09");
    EXPECT_EQ(parse(wide.build()).reason, "binary: reference size too small for object count");
    wide = BinaryBuilder();
    wide.offsetSize = 2;
    wide.referenceSize = 3; // odd widths are valid
    wide.addArray(elements);
    for (std::uint64_t i = 1; i < 256; ++i)
        wide.add("\x09");
    EXPECT_TRUE(parse(wide.build()).ok());
}

// Objects that are malformed in themselves are refused.
TEST(PlistBinaryReader, RejectsBadObjects)
{
    using namespace std::string_literals;
    const std::pair<const char*, std::string> cases[] = {
        { "null marker", "\x00"s },
        { "fill marker", "\x0F"s },
        { "integer of 128 bytes", "\x17"s + std::string(128, '\0') },
        { "integer of 32 bytes", "\x15"s + std::string(32, '\0') },
        { "16-byte integer beyond 2^64", "\x14"s + std::string(7, '\0') + "\x01"s + std::string(8, '\0') },
        { "truncated integer", "\x13\x00\x00"s },
        { "real of 2 bytes", "\x21\x00\x00"s },
        { "real of 16 bytes", "\x24"s + std::string(16, '\0') },
        { "date of 4 bytes", "\x32\x00\x00\x00\x00"s },
        { "length marker then a string", "\x4F\x51\x41"s },
        { "length of 16 bytes", "\x4F\x14"s + std::string(16, '\0') },
        { "data longer than the file", "\x4F\x10\x7F"s },
        { "non-ASCII in ASCII string", "\x52\x41\xC3"s },
        { "lone high surrogate", "\x61\xD8\x00"s },
        { "lone low surrogate", "\x62\xDC\x00\x00\x41"s },
        { "UTF-16 length overflowing", "\x6F\x13\x80\x00\x00\x00\x00\x00\x00\x01"s },
        { "array longer than the file", "\xAF\x13\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"s },
        { "dictionary pairs overflowing", "\xDF\x13\x80\x00\x00\x00\x00\x00\x00\x01"s },
        { "unused marker 0x7", "\x70"s },
        { "set marker", "\xC1\x00"s },
        { "UID of 9 bytes", "\x88"s + std::string(9, '\0') },
        { "reference beyond the count", "\xA1\x05"s },
    };
    for (auto& [name, object] : cases) {
        ReadResult result = parse(singleObjectFile(object));
        EXPECT_FALSE(result.ok()) << name;
    }
    // Eight-byte references times a count near 2^62 overflow.
    BinaryBuilder wideReferences;
    wideReferences.referenceSize = 8;
    wideReferences.add("\xAF\x13"s + BinaryBuilder::bigEndian(std::uint64_t(1) << 62, 8));
    EXPECT_EQ(parse(wideReferences.build()).reason, "binary: container length overflows");

    // 1, 2, 4, 8 and 16-byte integers are all valid; 1...4 bytes are unsigned, 8 signed.
    EXPECT_EQ(parse(singleObjectFile("\x12\xFF\xFF\xFF\xFF"s)).value, Value::integer(4294967295));
    EXPECT_EQ(parse(singleObjectFile("\x13"s + std::string(8, '\xFF'))).value, Value::integer(-1));
    EXPECT_EQ(parse(singleObjectFile("\x14"s + std::string(8, '\0') + std::string(8, '\xFF'))).value,
        Value::unsignedInteger(UINT64_MAX));
    EXPECT_EQ(parse(singleObjectFile("\x22\x3F\xC0\x00\x00"s)).value, Value::real(1.5));
}

// Keys must be strings; cycles and containers referenced twice are refused.
TEST(PlistBinaryReader, RejectsBadObjectGraphs)
{
    BinaryBuilder nonStringKey;
    nonStringKey.addContainer(0xD, { 1, 1 });
    nonStringKey.add("\x10\x01");
    EXPECT_FALSE(parse(nonStringKey.build()).ok());

    BinaryBuilder selfCycle;
    selfCycle.addArray({ 0 });
    EXPECT_EQ(parse(selfCycle.build()).reason, "binary: object graph has a cycle");

    BinaryBuilder twoObjectCycle;
    twoObjectCycle.addArray({ 1 });
    twoObjectCycle.addContainer(0xD, { 2, 0 });
    twoObjectCycle.addAscii("k");
    EXPECT_EQ(parse(twoObjectCycle.build()).reason, "binary: object graph has a cycle");
    EXPECT_EQ(lookupInBytes(twoObjectCycle.build(), "k").status, LookupStatus::Unreadable);

    // Scalars and empty containers may be shared freely.
    BinaryBuilder shared;
    shared.addArray({ 1, 1, 2, 2 });
    shared.addAscii("s");
    shared.addArray({});
    ReadResult result = parse(shared.build());
    ASSERT_TRUE(result.ok()) << result.reason;
    EXPECT_EQ(result.value.asArray()->size(), 4u);
}

// A 300-byte file whose arrays each reference the next one twice would expand into 2^40 nodes.
TEST(PlistBinaryReader, FanOutFileIsRefusedQuickly)
{
    BinaryBuilder builder;
    const int levels = 40;
    for (int i = 0; i < levels; ++i)
        builder.addArray({ static_cast<std::uint64_t>(i + 1), static_cast<std::uint64_t>(i + 1) });
    builder.add("\x09");
    std::string file = builder.build();
    EXPECT_LT(file.size(), 300u);
    auto start = std::chrono::steady_clock::now();
    ReadResult result = parse(file);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.reason, "binary: container referenced more than once");
    EXPECT_EQ(lookupInBytes(file, "k").status, LookupStatus::Unreadable);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// A string shared by many references cannot blow up memory: expansion has a budget.
TEST(PlistBinaryReader, SharedStringExpansionIsBounded)
{
    BinaryBuilder builder;
    builder.referenceSize = 1;
    builder.offsetSize = 4;
    std::vector<std::uint64_t> references(200000, 1);
    builder.addArray(references);
    builder.add(BinaryBuilder::marker(0x4, 1 << 20) + std::string(1 << 20, 'x'));
    ReadResult result = parse(builder.build());
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.reason, "binary: too large when expanded");
}

TEST(PlistBinaryReader, NestingLimitIs512)
{
    auto chain = [](int depth) {
        BinaryBuilder builder;
        builder.referenceSize = 2;
        builder.offsetSize = 2;
        for (int i = 0; i + 1 < depth; ++i)
            builder.addArray({ static_cast<std::uint64_t>(i + 1) });
        builder.addArray({});
        return builder.build();
    };
    EXPECT_TRUE(parse(chain(512)).ok());
    EXPECT_FALSE(parse(chain(513)).ok());
}

// Every truncation of a valid file is refused (and none crashes under the sanitizers).
TEST(PlistBinaryReader, EveryTruncationIsRefused)
{
    std::string file = smallDictionaryFile();
    for (std::size_t length = 0; length < file.size(); ++length) {
        EXPECT_FALSE(parse(file.substr(0, length)).ok()) << length;
        EXPECT_EQ(lookupInBytes(file.substr(0, length), "a").status, LookupStatus::Unreadable) << length;
    }
}

// A lookup finds ASCII and UTF-16 keys, and still validates objects after the match.
TEST(PlistBinaryReader, LookupFindsKeysAndValidatesTheRest)
{
    std::string file = smallDictionaryFile();
    LookupResult found = lookupInBytes(file, "b");
    EXPECT_EQ(found.status, LookupStatus::Found);
    EXPECT_EQ(found.value, Value::boolean(true));
    EXPECT_EQ(lookupInBytes(file, "zz").status, LookupStatus::KeyAbsent);

    BinaryBuilder unicode;
    unicode.addContainer(0xD, { 1, 2, 3, 4 });
    unicode.add(std::string("\x61\x00\xE9", 3));
    unicode.addAscii("bad");
    unicode.add("\x10\x07");
    unicode.add("\x52\x41\xC3");
    EXPECT_EQ(lookupInBytes(unicode.build(), "\xC3\xA9").status, LookupStatus::Unreadable);
    unicode = BinaryBuilder();
    unicode.addContainer(0xD, { 1, 2 });
    unicode.add(std::string("\x61\x00\xE9", 3));
    unicode.add("\x10\x07");
    EXPECT_EQ(lookupInBytes(unicode.build(), "\xC3\xA9").value, Value::integer(7));
}
