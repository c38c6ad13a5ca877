#include "PlistTestSupport.h"

#include <clocale>
#include <cmath>
#include <cstdlib>

using namespace Platform::Plist;

static std::string document(const std::string& body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n"
        + body + "\n</plist>\n";
}

static std::string nested(const std::string& open, const std::string& close, int depth)
{
    std::string text;
    for (int i = 0; i < depth; ++i)
        text += open;
    for (int i = 0; i < depth; ++i)
        text += close;
    return text;
}

// Every malformed or hostile document is an ordinary error, reported as "XML: line N: ...".
TEST(PlistXmlReader, RejectsHostileDocuments)
{
    const std::pair<const char*, std::string> cases[] = {
        { "not XML at all", "hello world" },
        { "UTF-16 byte-order mark", "\xFF\xFE<\0p\0" },
        { "other encoding", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><plist><true/></plist>" },
        { "invalid UTF-8", document("<string>\xC3\x28</string>") },
        { "entity declaration",
            "<?xml version=\"1.0\"?><!DOCTYPE plist [<!ENTITY x \"y\">]><plist><string>&x;</string></plist>" },
        { "bare entity declaration", document("<dict><!ENTITY x \"y\"></dict>") },
        { "unknown entity", document("<string>&nbsp;</string>") },
        { "bare ampersand", document("<string>a & b</string>") },
        { "reference to zero", document("<string>&#0;</string>") },
        { "reference to a surrogate", document("<string>&#xD800;</string>") },
        { "reference beyond U+10FFFF", document("<string>&#x110000;</string>") },
        { "huge reference", document("<string>&#99999999999999999999;</string>") },
        { "integer with trailing letters", document("<integer>12abc</integer>") },
        { "integer with a fraction", document("<integer>1.9</integer>") },
        { "empty integer", document("<integer></integer>") },
        { "self-closed integer", document("<integer/>") },
        { "integer above 2^64-1", document("<integer>18446744073709551616</integer>") },
        { "integer below -2^63", document("<integer>-9223372036854775809</integer>") },
        { "hex integer above 2^64-1", document("<integer>0x10000000000000000</integer>") },
        { "doubled sign", document("<integer>--1</integer>") },
        { "real with a comma", document("<real>1,5</real>") },
        { "real that is words", document("<real>one</real>") },
        { "hex real", document("<real>0x1p3</real>") },
        { "empty real", document("<real> </real>") },
        { "content in true", document("<true>x</true>") },
        { "whitespace in false", document("<false> </false>") },
        { "malformed date", document("<date>2020-01-01 00:00:00</date>") },
        { "impossible date", document("<date>2021-02-29T00:00:00Z</date>") },
        { "bad base64", document("<data>AB$C</data>") },
        { "unknown tag", document("<foo/>") },
        { "attribute on a value", document("<string id=\"1\">x</string>") },
        { "unknown attribute on plist", "<plist version=\"1.0\" foo=\"1\"><true/></plist>" },
        { "mismatched closing tag", document("<array></dict>") },
        { "missing </plist>", "<plist><true/>" },
        { "unterminated string", "<plist><string>abc" },
        { "empty plist", "<plist></plist>" },
        { "key in an array", document("<array><key>a</key></array>") },
        { "key at the root", document("<key>a</key>") },
        { "dangling key", document("<dict><key>a</key></dict>") },
        { "doubled key", document("<dict><key>a</key><key>b</key><true/></dict>") },
        { "compound key", document("<dict><key><string>a</string></key><true/></dict>") },
        { "value without a key", document("<dict><true/></dict>") },
        { "text in a dictionary", document("<dict>text<key>a</key><true/></dict>") },
        { "text in an array", document("<array>x</array>") },
        { "two roots", document("<true/><false/>") },
        { "content after the root", document("<true/>") + "<true/>" },
        { "text after the root", document("<true/>") + "junk" },
        { "nested plist", document("<plist><true/></plist>") },
        { "arrays nested 513 deep", document(nested("<array>", "</array>", 513)) },
        { "dictionaries nested 513 deep",
            document(nested("<dict><key>k</key>", "</dict>", 513).insert(513 * 18, "<true/>")) },
        { "unterminated comment", document("<!-- <true/>") },
        { "empty", "" },
        { "whitespace only", " \n\t " },
    };
    for (auto& [name, text] : cases) {
        ReadResult result = parse(text);
        EXPECT_FALSE(result.ok()) << name;
        EXPECT_EQ(result.status, ReadStatus::Unreadable) << name;
        EXPECT_FALSE(result.reason.empty()) << name;
    }
}

// Every truncation of a valid document is refused, up to the closing </plist>.
TEST(PlistXmlReader, EveryTruncationIsRefused)
{
    std::string text
        = document("<dict><key>a&amp;</key><array><integer>1</integer><real>2.5</real><data>AAEC</data></array>"
                   "<key>b</key><date>2001-01-01T00:00:00Z</date><key>c</key><string>x<!-- y --></string></dict>");
    std::size_t end = text.rfind("</plist>") + 8;
    for (std::size_t length = 0; length < end; ++length)
        EXPECT_FALSE(parse(text.substr(0, length)).ok()) << length;
    EXPECT_TRUE(parse(text.substr(0, end)).ok());
}

// Errors name the line and the problem.
TEST(PlistXmlReader, ErrorReasonsNameTheLine)
{
    EXPECT_EQ(parse("<plist>\n<dict>\n<foo/>\n</dict></plist>").reason, "XML: line 3: unknown tag <foo>");
    EXPECT_EQ(parse("<plist><integer>12abc</integer></plist>").reason, "XML: line 1: malformed integer");
    EXPECT_EQ(parse("random bytes").reason, "not a property list");
}

// 512 levels of nesting are allowed; the 513th is refused.
TEST(PlistXmlReader, NestingLimitIs512)
{
    EXPECT_TRUE(parse(document(nested("<array>", "</array>", 512))).ok());
    EXPECT_FALSE(parse(document(nested("<array>", "</array>", 513))).ok());
}

// What XML allows around and inside a property list is accepted and decoded.
TEST(PlistXmlReader, AcceptsValidVariations)
{
    const std::pair<std::string, Value> cases[] = {
        { "<plist><true/></plist>", Value::boolean(true) },
        { "\xEF\xBB\xBF<plist version=\"1.0\"><false></false></plist>", Value::boolean(false) },
        { "<?xml version='1.0'?><!-- c --><?pi x?><!DOCTYPE plist SYSTEM \"x>y\"><plist\n version = '1.0' ><!-- c "
          "--><string/></plist><!-- end -->\n",
            Value::string("") },
        { document("<string>&amp;&lt;&gt;&quot;&apos;&#65;&#x1F600;</string>"),
            Value::string("&<>\"'A\xF0\x9F\x98\x80") },
        { document("<string>a<!-- skipped -->b<![CDATA[<&>]]>c</string>"), Value::string("ab<&>c") },
        { document("<integer> 0123 </integer>"), Value::integer(123) },
        { document("<integer>0x7f</integer>"), Value::integer(127) },
        { document("<integer>-0X10</integer>"), Value::integer(-16) },
        { document("<integer>+5</integer>"), Value::integer(5) },
        { document("<integer>18446744073709551615</integer>"), Value::unsignedInteger(UINT64_MAX) },
        { document("<integer>-9223372036854775808</integer>"), Value::integer(INT64_MIN) },
        { document("<real>-1.5e3</real>"), Value::real(-1500) },
        { document("<real>.5</real>"), Value::real(0.5) },
        { document("<real>+infinity</real>"), Value::real(INFINITY) },
        { document("<real>4.9406564584124654e-324</real>"), Value::real(4.9406564584124654e-324) },
        { document("<real>1e999</real>"), Value::real(INFINITY) },
        { document("<data>\n\tAAEC\n\tAw==\n\t</data>"), Value::data({ 0, 1, 2, 3 }) },
        { document("<data>AAECAw</data>"), Value::data({ 0, 1, 2, 3 }) },
        { document("<data/>"), Value::data({}) },
        { document("<date>2001-01-01T00:01:00Z</date>"), Value::date({ 60 }) },
        { document("<date>1970-01-01T00:00:00Z</date>"), Value::date({ -978307200 }) },
        { document("<array> <array/> <dict/> </array>"), Value(Array { Value(Array {}), Value(Dictionary {}) }) },
    };
    for (auto& [text, expected] : cases) {
        ReadResult result = parse(text);
        ASSERT_TRUE(result.ok()) << text << ": " << result.reason;
        EXPECT_EQ(result.value, expected) << text;
    }
}

// Keys decode references too, and the last of duplicate keys wins.
TEST(PlistXmlReader, DictionaryKeysDecodeAndLastDuplicateWins)
{
    ReadResult result = parse(document("<dict><key>a&amp;b</key><integer>1</integer><key>x</key><integer>2</integer>"
                                       "<key>&#120;</key><integer>3</integer></dict>"));
    ASSERT_TRUE(result.ok()) << result.reason;
    auto& dictionary = *result.value.asDictionary();
    EXPECT_EQ(dictionary.size(), 2u);
    EXPECT_EQ(dictionary.find("a&b")->integerValue(), 1);
    EXPECT_EQ(dictionary.find("x")->integerValue(), 3);
    EXPECT_EQ(lookupInBytes(document("<dict><key>x</key><true/><key>x</key><false/></dict>"), "x").value,
        Value::boolean(false));
}

// Reals are read the same whatever the process locale says about decimal separators.
TEST(PlistXmlReader, RealsIgnoreTheLocale)
{
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = previous ? previous : "C";
    PlistTest::ScratchDirectory scratch;
    bool switched = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    if (!switched) {
        // None installed: compile a minimal one for this test alone (localedef warns about the
        // categories left out, and says so in its exit status).
        scratch.write("comma.src",
            "LC_CTYPE\ncopy \"POSIX\"\nEND LC_CTYPE\nLC_NUMERIC\ndecimal_point \",\"\n"
            "thousands_sep \".\"\ngrouping 3;3\nEND LC_NUMERIC\n");
        std::string command = "localedef -c -i " + scratch.path("comma.src") + " -f UTF-8 "
            + scratch.path("xx_XX.UTF-8") + " >/dev/null 2>&1";
        [[maybe_unused]] int ignored = std::system(command.c_str());
        ::setenv("LOCPATH", scratch.path().c_str(), 1);
        switched = std::setlocale(LC_NUMERIC, "xx_XX.UTF-8");
    }
    if (!switched)
        GTEST_SKIP() << "no comma-decimal locale available";
    EXPECT_EQ(*std::localeconv()->decimal_point, ',');
    EXPECT_EQ(parse(document("<real>1.5</real>")).value, Value::real(1.5));
    EXPECT_FALSE(parse(document("<real>1,5</real>")).ok());
    EXPECT_EQ(parse(document("<real>1e999</real>")).value, Value::real(INFINITY));
    EXPECT_NE(toXml(Value::real(0.25)).find("<real>0.25</real>"), std::string::npos);
    std::setlocale(LC_NUMERIC, saved.c_str());
    ::unsetenv("LOCPATH");
}

// A lookup validates the whole document: corruption after the key still reads as unreadable.
TEST(PlistXmlReader, LookupValidatesTheWholeDocument)
{
    std::string good
        = document("<dict><key>a</key><real>0.5</real><key>b</key><array><integer>1</integer></array></dict>");
    LookupResult found = lookupInBytes(good, "a");
    EXPECT_EQ(found.status, LookupStatus::Found);
    EXPECT_EQ(found.value, Value::real(0.5));
    EXPECT_EQ(lookupInBytes(good, "c").status, LookupStatus::KeyAbsent);

    std::string corrupt
        = document("<dict><key>a</key><real>0.5</real><key>b</key><array><integer>1x</integer></array></dict>");
    EXPECT_EQ(lookupInBytes(corrupt, "a").status, LookupStatus::Unreadable);
    EXPECT_EQ(lookupInBytes(document("<array/>"), "a").status, LookupStatus::Unreadable);
}
