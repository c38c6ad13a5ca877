// The command body is compiled into this test program; the kestrel tool links it the same way.
#include "tools/kestrel/PlistCommand.cpp"

#include "PlistTestSupport.h"

#include <sstream>

using PlistTest::ScratchDirectory;

struct CommandRun {
    int status;
    std::string out;
    std::string err;
};

static CommandRun run(const std::vector<std::string>& args)
{
    std::ostringstream out;
    std::ostringstream err;
    int status = runPlistCommand(args, out, err);
    return { status, out.str(), err.str() };
}

// Wrong words are usage errors: exit 2, usage on standard error, nothing on standard output.
TEST(PlistCommand, UsageErrorsExitTwo)
{
    for (auto& args :
        std::vector<std::vector<std::string>> { {}, { "print" }, { "show", "x" }, { "print", "a", "b" } }) {
        CommandRun result = run(args);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.err, "usage: kestrel plist print FILE\n");
        EXPECT_EQ(result.out, "");
    }
}

// An unreadable file is one line "kestrel: FILE: REASON" and exit 2, as every error is.
TEST(PlistCommand, UnreadableFilesExitTwo)
{
    ScratchDirectory scratch;
    std::string missing = scratch.path("missing.plist");
    CommandRun result = run({ "print", missing });
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err, "kestrel: " + missing + ": no such file\n");
    EXPECT_EQ(result.out, "");

    std::string corrupt = scratch.write("corrupt.plist", "<plist>\n<integer>12abc</integer></plist>");
    EXPECT_EQ(run({ "print", corrupt }).err, "kestrel: " + corrupt + ": XML: line 2: malformed integer\n");
    EXPECT_EQ(run({ "print", scratch.path() }).err, "kestrel: " + scratch.path() + ": not a regular file\n");
}

// A readable file, binary here, prints exactly as the writer writes it.
TEST(PlistCommand, PrintsTheXmlForm)
{
    ScratchDirectory scratch;
    PlistTest::BinaryBuilder builder;
    builder.addContainer(0xD, { 1, 2 });
    builder.addAscii("enabled");
    builder.add("\x09");
    std::string path = scratch.write("settings.plist", builder.build());
    CommandRun result = run({ "print", path });
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    Platform::Plist::Dictionary expected;
    expected.set("enabled", Platform::Plist::Value::boolean(true));
    EXPECT_EQ(result.out, Platform::Plist::toXml(Platform::Plist::Value(expected)));
}
