#include "PlistTestSupport.h"

#include <cmath>
#include <filesystem>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Platform::Plist;
using PlistTest::ScratchDirectory;

// The exact XML form: header, tabs, sorted keys, every kind's element.
TEST(PlistWriter, WritesThePlatformXmlForm)
{
    Dictionary inner;
    inner.set("z", Value::real(0.1));
    inner.set("a", Value(Array {}));
    Dictionary root;
    root.set("string", Value::string("a < b & c > d"));
    root.set("bool", Value::boolean(false));
    root.set("int", Value::integer(-42));
    root.set("big", Value::unsignedInteger(UINT64_MAX));
    root.set("reals",
        Value(Array { Value::real(1), Value::real(-0.0), Value::real(NAN), Value::real(INFINITY),
            Value::real(-INFINITY), Value::real(1e-7) }));
    root.set("data", Value::data(Data(60, 0xAB)));
    root.set("date", Value::date({ 60 * 60 * 24 + 1.9 }));
    root.set("inner", Value(inner));
    root.set("empty", Value(Dictionary {}));
    root.set("uid", Value::uid(7));
    root.set("true", Value::boolean(true));
    EXPECT_EQ(toXml(Value(root)),
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n"
        "<dict>\n"
        "\t<key>big</key>\n\t<integer>18446744073709551615</integer>\n"
        "\t<key>bool</key>\n\t<false/>\n"
        "\t<key>data</key>\n\t<data>\n"
        "\tq6urq6urq6urq6urq6urq6urq6urq6urq6urq6urq6urq6urq6urq6urq6urq6urq6ur\n"
        "\tq6urq6urq6ur\n"
        "\t</data>\n"
        "\t<key>date</key>\n\t<date>2001-01-02T00:00:01Z</date>\n"
        "\t<key>empty</key>\n\t<dict/>\n"
        "\t<key>inner</key>\n\t<dict>\n\t\t<key>a</key>\n\t\t<array/>\n\t\t<key>z</"
        "key>\n\t\t<real>0.10000000000000001</real>\n\t</dict>\n"
        "\t<key>int</key>\n\t<integer>-42</integer>\n"
        "\t<key>reals</key>\n\t<array>\n\t\t<real>1</real>\n\t\t<real>-0</real>\n\t\t<real>nan</"
        "real>\n\t\t<real>+infinity</real>\n"
        "\t\t<real>-infinity</real>\n\t\t<real>9.9999999999999995e-08</real>\n\t</array>\n"
        "\t<key>string</key>\n\t<string>a &lt; b &amp; c &gt; d</string>\n"
        "\t<key>true</key>\n\t<true/>\n"
        "\t<key>uid</key>\n\t<dict>\n\t\t<key>CF$UID</key>\n\t\t<integer>7</integer>\n\t</dict>\n"
        "</dict>\n"
        "</plist>\n");
    std::string emptyArray = toXml(Value(Array {}));
    EXPECT_EQ(emptyArray.substr(emptyArray.find("<plist")), "<plist version=\"1.0\">\n<array/>\n</plist>\n");
}

namespace {

// Writes, with plistlib, one document per depth (0 to 12) and data length, the data nested
// in dictionaries and arrays in turn (with siblings before and after it), named d<depth>-<length>.
constexpr const char* nestedDataScript = R"(
import os, plistlib, sys
folder = sys.argv[1]
for depth in range(13):
    for length in (0, 1, 2, 3, 4, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18, 26, 27, 45, 46, 47, 48, 50, 51, 56, 57, 58, 60, 100, 200):
        value = bytes((i * 37 + depth) % 256 for i in range(length))
        for level in range(depth):
            value = {"a": 1, "k": value, "z": "end"} if level % 2 == 0 else [True, value, 2.5]
        with open(os.path.join(folder, "d%d-%d.plist" % (depth, length)), "wb") as f:
            f.write(plistlib.dumps(value, fmt=plistlib.FMT_XML, sort_keys=True))
)";

} // namespace

// Base64 data is wrapped as the platform's own writer wraps it, at any depth: lines indented
// like the <data> tag, as long as fits in 76 columns with a tab counted as 8, and never under
// 16 characters. That is plistlib's layout, byte for byte.
TEST(PlistWriter, WrapsDataAsThePlatformDoesAtEveryDepth)
{
    ScratchDirectory scratch;
    int status = 0;
    PlistTest::runPython(scratch, nestedDataScript, scratch.path(), status);
    ASSERT_EQ(status, 0) << "python3 with plistlib is needed";

    size_t compared = 0;
    for (auto& entry : std::filesystem::directory_iterator(scratch.path())) {
        std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".plist")
            continue;
        std::string reference = PlistTest::readWholeFile(entry.path().string());
        ReadResult read = parse(reference);
        ASSERT_TRUE(read.ok()) << name << ": " << read.reason;
        EXPECT_EQ(toXml(read.value), reference) << name;
        ++compared;
    }
    EXPECT_EQ(compared, 13u * 29u);

    // Two of them by hand: 20 bytes at depth 9 (in arrays), and 57 bytes at depth 1.
    Value deep = Value::data(Data(20, 0xFF));
    for (int level = 0; level < 9; ++level)
        deep = Value(Array { deep });
    std::string xml = toXml(deep);
    EXPECT_NE(xml.find(std::string(9, '\t') + "<data>\n" + std::string(9, '\t') + "////////////////\n"
                  + std::string(9, '\t') + "//////////8=\n" + std::string(9, '\t') + "</data>\n"),
        std::string::npos)
        << xml;
    Dictionary shallow;
    shallow.set("k", Value::data(Data(57, 0)));
    xml = toXml(Value(shallow));
    EXPECT_NE(xml.find("\t<data>\n\t" + std::string(68, 'A') + "\n\t" + std::string(8, 'A') + "\n\t</data>\n"),
        std::string::npos)
        << xml;
}

// What the writer writes, the reader reads back as the same value (UIDs aside).
TEST(PlistWriter, ReaderReadsWhatTheWriterWrites)
{
    Dictionary root;
    root.set("strings",
        Value(Array { Value::string(""), Value::string("]]> &amp; <!-- x -->"), Value::string("\xF0\x9F\x98\x80") }));
    root.set("numbers",
        Value(Array { Value::integer(INT64_MIN), Value::real(4.9406564584124654e-324), Value::real(-INFINITY) }));
    root.set("data", Value::data({}));
    root.set("date", Value::date({ -1e9 }));
    Value value(root);
    ReadResult result = parse(toXml(value));
    ASSERT_TRUE(result.ok()) << result.reason;
    EXPECT_EQ(result.value, value);
}

static std::vector<std::string> directoryEntries(const std::string& path)
{
    std::vector<std::string> names;
    for (auto& entry : std::filesystem::directory_iterator(path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The target is replaced whole, keeps its mode, and no temporary file is left behind.
TEST(PlistWriter, AtomicReplaceReplacesTheTargetWhole)
{
    ScratchDirectory scratch;
    std::string target = scratch.write("settings.plist", "old");
    ::chmod(target.c_str(), 0600);
    ASSERT_TRUE(writeFileAtomically(target, Value::boolean(true)));
    EXPECT_EQ(PlistTest::readWholeFile(target), toXml(Value::boolean(true)));
    EXPECT_EQ(directoryEntries(scratch.path()), std::vector<std::string> { "settings.plist" });
    struct stat status;
    ASSERT_EQ(::stat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);

    ASSERT_TRUE(replaceFileAtomically(scratch.path("new.plist"), "fresh"));
    EXPECT_EQ(PlistTest::readWholeFile(scratch.path("new.plist")), "fresh");
}

// A write that fails part-way leaves the old file as it was and no temporary file.
TEST(PlistWriter, FailedWriteLeavesTheOldFile)
{
    ScratchDirectory scratch;
    std::string target = scratch.write("settings.plist", "old contents");
    // In a child, with a file size limit that stops the write half-way (EFBIG).
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (!child) {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = { 1024, 1024 };
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(replaceFileAtomically(target, std::string(4096, 'x')) ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    EXPECT_EQ(PlistTest::readWholeFile(target), "old contents");
    EXPECT_EQ(directoryEntries(scratch.path()), std::vector<std::string> { "settings.plist" });

    // A target that is a directory cannot be replaced.
    ::mkdir(scratch.path("directory").c_str(), 0755);
    scratch.write("directory/inside", "x");
    EXPECT_FALSE(replaceFileAtomically(scratch.path("directory"), "x"));
    EXPECT_FALSE(replaceFileAtomically(scratch.path("no-such-directory/settings.plist"), "x"));
    EXPECT_EQ(directoryEntries(scratch.path()), (std::vector<std::string> { "directory", "settings.plist" }));

    // An unwritable directory (as an unprivileged user: root writes anywhere).
    ::chmod(scratch.path().c_str(), 0555);
    ::chmod(target.c_str(), 0666);
    EXPECT_TRUE(PlistTest::runUnprivileged([&] { return !replaceFileAtomically(target, "new"); }));
    EXPECT_EQ(PlistTest::readWholeFile(target), "old contents");
    EXPECT_EQ(directoryEntries(scratch.path()), (std::vector<std::string> { "directory", "settings.plist" }));
}
