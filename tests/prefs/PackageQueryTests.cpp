// The package query: parsing the status record the device's dpkg-query prints, and running
// that tool (here a script of the test's own, answering with any bytes, or failing).
#include "PrefsTestSupport.h"

#include "platform/system/ReapWatcher.h"
#include "prefs/PloverPackage.h"

#include <cerrno>
#include <chrono>
#include <sys/wait.h>

using namespace PrefsTesting;

namespace {

using Fields = std::map<std::string, std::string>;

// The fields of the bytes as the tool would print them, as C++ text; nullopt for nil.
std::optional<Fields> parsePackageFields(std::string_view output)
{
    id data = send<id>(getClass("NSData"), sel("dataWithBytes:length:"), static_cast<const void*>(output.data()),
        static_cast<unsigned long>(output.size()));
    id fields = ::parsePackageFields(data);
    if (!fields)
        return std::nullopt;
    Fields result;
    id keys = send<id>(fields, sel("allKeys"));
    for (unsigned long index = 0; index < send<unsigned long>(keys, sel("count")); ++index) {
        id key = send<id>(keys, sel("objectAtIndex:"), index);
        result[textOf(key).value_or("?")] = textOf(send<id>(fields, sel("objectForKey:"), key)).value_or("?");
    }
    return result;
}

std::optional<std::string> versionIn(std::string_view output)
{
    auto fields = parsePackageFields(output);
    if (!fields)
        return std::nullopt;
    auto found = fields->find("Version");
    if (found == fields->end())
        return std::nullopt;
    return found->second;
}

// --- Parsing ---

TEST(PackageFieldsTest, ALineSplitsAtItsFirstColonBlankWithNothingTrimmed)
{
    EXPECT_EQ(versionIn("Version: 1.4-2"), "1.4-2");
    EXPECT_EQ(parsePackageFields("Description: a: b"), (Fields { { "Description", "a: b" } }))
        << "only the first separator splits";
    EXPECT_EQ(parsePackageFields(": x"), (Fields { { "", "x" } })) << "an empty name";
    EXPECT_EQ(parsePackageFields(" see also: x"), (Fields { { " see also", "x" } }))
        << "a continuation line keeps its blank";
    EXPECT_EQ(parsePackageFields("Version:  2 "), (Fields { { "Version", " 2 " } })) << "blanks in the value stay";
    EXPECT_EQ(parsePackageFields("Name :x: y"), (Fields { { "Name :x", "y" } }));
}

TEST(PackageFieldsTest, ALineWithoutColonBlankIsNoField)
{
    EXPECT_EQ(parsePackageFields("Version:1.4"), Fields {});
    EXPECT_EQ(versionIn("Version:1.4\nVersion:\t2"), std::nullopt);
    EXPECT_EQ(parsePackageFields("Version\n:\nplain text\n"), Fields {});
}

TEST(PackageFieldsTest, AnEmptyValueIsPresentAndEmpty)
{
    EXPECT_EQ(versionIn("Version: "), "");
    EXPECT_EQ(versionIn("Version: \n"), "");
}

TEST(PackageFieldsTest, TheLastOfEqualNamesWinsAndNamesAreCaseSensitive)
{
    EXPECT_EQ(versionIn("Version: 1.0\nPackage: x\nVersion: 2.0\n"), "2.0");
    EXPECT_EQ(versionIn("version: 3.0\nVERSION: 4.0\n"), std::nullopt);
    EXPECT_EQ(versionIn("Version: 5.0\nversion: 6.0\n"), "5.0");
}

TEST(PackageFieldsTest, OnlyNewlineEndsALine)
{
    EXPECT_EQ(versionIn("Version: 1.0\r\n"), "1.0\r") << "a carriage return stays part of the value";
    EXPECT_EQ(parsePackageFields("A: 1\rVersion: 2"), (Fields { { "A", "1\rVersion: 2" } }));
    EXPECT_EQ(versionIn("\n\n\nVersion: 3\n\n\n"), "3") << "empty lines are lines like any other";
    EXPECT_EQ(versionIn("Version: 4"), "4") << "no final newline needed";
}

// Text is compared code unit by code unit: a combining mark right after a newline or a
// separator does not make one character of them that no longer splits.
TEST(PackageFieldsTest, ACombiningMarkAfterANewlineOrASeparatorStillSplits)
{
    EXPECT_EQ(parsePackageFields("Name: \xcc\x81value\nVersion: 2\n\xcd\xafX: y"),
        (Fields { { "Name", "\xcc\x81value" }, { "Version", "2" }, { "\xcd\xafX", "y" } }));
    EXPECT_EQ(versionIn("Version:\xcc\x81 3\nVersion: 4"), "4") << "a mark between colon and blank is no separator";
}

TEST(PackageFieldsTest, EmptyOutputGivesNoFieldsAndNoOutputNone)
{
    EXPECT_EQ(::parsePackageFields(nullptr), nullptr) << "a tool that could not be read";
    auto fields = parsePackageFields("");
    ASSERT_TRUE(fields) << "empty text is valid text";
    EXPECT_TRUE(fields->empty());
    EXPECT_EQ(parsePackageFields("\n"), Fields {});
}

TEST(PackageFieldsTest, InvalidUTF8GivesNoFieldsAtAll)
{
    for (std::string_view bad : { std::string_view("Version: 1.0\n\xff\n"), std::string_view("Version: \xc0\xaf"),
             std::string_view("Version: \xe0\x80\xaf"), std::string_view("Version: \xf0\x80\x80\xaf"),
             std::string_view("Version: \xed\xa0\x80"), std::string_view("Version: \xed\xbf\xbf"),
             std::string_view("Version: \xf4\x90\x80\x80"), std::string_view("Version: 1\x80"),
             std::string_view("Version: 1\xe2\x82"), std::string_view("Version: \xf8\x88\x80\x80\x80") }) {
        EXPECT_EQ(parsePackageFields(bad), std::nullopt) << testing::PrintToString(std::string(bad));
    }
}

TEST(PackageFieldsTest, ValidMultibyteTextAndNulBytesAreKept)
{
    EXPECT_EQ(
        versionIn("Version: 1.0-\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"), "1.0-\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
    EXPECT_EQ(
        versionIn("Version: \xed\x9f\xbf\xee\x80\x80\xf4\x8f\xbf\xbf"), "\xed\x9f\xbf\xee\x80\x80\xf4\x8f\xbf\xbf")
        << "the code points next to the surrogates, and U+10FFFF";
    EXPECT_EQ(versionIn(std::string_view("Version: 1\0002\n", 13)), std::string("1\0002", 3));
}

// --- Running the tool ---

class PackageQueryTest : public PrefsTest {
protected:
    static id query(const std::string& identifier)
    {
        return send<id>(getClass("PloverPackage"), sel("packageWithIdentifier:"), text(identifier.c_str()));
    }
    static std::optional<std::string> versionOf(id package) { return textOf(send<id>(package, sel("version"))); }
    std::optional<std::string> queriedVersion() { return versionOf(query("com.plover.kestrel")); }
};

TEST_F(PackageQueryTest, TheVersionComesFromTheToolsRecord)
{
    fakeDpkgQueryPrinting("Package: com.plover.kestrel\nStatus: install ok installed\nVersion: 1.4-2\n"
                          "Description: a tweak\n more: text\n\n");
    auto package = query("com.plover.kestrel");
    ASSERT_NE(package, nullptr);
    EXPECT_EQ(versionOf(package), "1.4-2");
    send(package, sel("setVersion:"), text("9"));
    EXPECT_EQ(versionOf(package), "9") << "any caller may set it again";
}

TEST_F(PackageQueryTest, NoRecordOrInvalidUTF8GivesAPackageWithoutVersion)
{
    fakeDpkgQuery("echo 'dpkg-query: package is not installed' >&2\nexit 1\n");
    auto package = query("com.plover.kestrel");
    ASSERT_NE(package, nullptr) << "a package object is always answered";
    EXPECT_EQ(versionOf(package), std::nullopt);

    fakeDpkgQueryPrinting("Version: 1.0\n\xed\xa0\x80\n");
    EXPECT_EQ(queriedVersion(), std::nullopt) << "a surrogate";
    fakeDpkgQueryPrinting("Version: \xc1\xbf\n");
    EXPECT_EQ(queriedVersion(), std::nullopt) << "an overlong form";
    fakeDpkgQueryPrinting("Package: x\nStatus: y\n");
    EXPECT_EQ(queriedVersion(), std::nullopt) << "a record without Version";
    fakeDpkgQueryPrinting("Version: 1.0\r\n");
    EXPECT_EQ(queriedVersion(), "1.0\r");
}

TEST_F(PackageQueryTest, AToolThatExitsWithAnErrorButPrintsARecordGivesItsVersion)
{
    fakeDpkgQuery("printf 'Package: com.plover.kestrel\\nVersion: 2.0~beta1\\n'\nexit 3\n");
    EXPECT_EQ(queriedVersion(), "2.0~beta1");
    fakeDpkgQuery("printf 'Version: 2.1\\n'\nkill -9 $$\n");
    EXPECT_EQ(queriedVersion(), "2.1") << "or is killed after printing it";
}

TEST_F(PackageQueryTest, AMissingOrUnstartableToolGivesNoVersionAndNoCrash)
{
    std::filesystem::remove(hostPath(dpkgQueryPath));
    EXPECT_EQ(queriedVersion(), std::nullopt) << "missing";

    writeFile(dpkgQueryPath, "#!/bin/sh\necho 'Version: 1.0'\n", 0644);
    EXPECT_EQ(queriedVersion(), std::nullopt) << "not executable";

    writeFile(dpkgQueryPath, "#!/nonexistent/interpreter\n", 0755);
    EXPECT_EQ(queriedVersion(), std::nullopt) << "its interpreter is missing";

    writeFile(dpkgQueryPath,
        "\x7f"
        "ELF garbage",
        0755);
    EXPECT_EQ(queriedVersion(), std::nullopt) << "not a program";

    std::filesystem::remove(hostPath(dpkgQueryPath));
    std::filesystem::create_directories(hostPath(dpkgQueryPath));
    EXPECT_EQ(queriedVersion(), std::nullopt) << "a folder";
}

TEST_F(PackageQueryTest, TheIdentifierReachesTheToolAsOneUnchangedArgumentInTheDevicesRootFolder)
{
    std::string record = hostPath("/arguments");
    fakeDpkgQuery("printf '%s\\n' \"$#\" \"$@\" > '" + record + "'\npwd -P >> '" + record + "'\n");
    std::string identifier = "com.plover.kestrel; echo 'single' \"double\" $HOME `id` *";
    query(identifier);
    EXPECT_EQ(readFile("/arguments"), "2\n-s\n" + identifier + "\n" + root() + "\n");

    query("com.plover.kestrel");
    EXPECT_EQ(readFile("/arguments"), "2\n-s\ncom.plover.kestrel\n" + root() + "\n");
    query("");
    EXPECT_EQ(readFile("/arguments"), "2\n-s\n\n" + root() + "\n") << "an empty identifier is still one argument";
}

TEST_F(PackageQueryTest, TheToolIsTheDevicesOwnNotTheMachines)
{
    fakeDpkgQuery("echo 'Version: from-the-device'\n");
    EXPECT_EQ(queriedVersion(), "from-the-device");
}

// The Settings app's main thread waits only for the tool's output, never for its exit; the
// child is reaped in the background all the same.
TEST_F(PackageQueryTest, TheQueryReturnsOnceTheToolClosesItsOutputAndTheChildIsReapedLater)
{
    ReapWatcher reaps;
    std::string pidFile = hostPath("/child-pid");
    fakeDpkgQuery("echo $$ > '" + pidFile + "'\nprintf 'Package: com.plover.kestrel\\nVersion: 3.1\\n'\n"
                  "exec >&-\nsleep 1.5\n");
    auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(queriedVersion(), "3.1");
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1000))
        << "the query waited for the tool to exit";
    pid_t child = std::stoi(readFile("/child-pid").value_or("0"));
    ASSERT_GT(child, 0);
    EXPECT_FALSE(reaps.hasReaped(child)) << "the tool is still running";
    ASSERT_TRUE(reaps.waitFor(child)) << "the tool was never reaped";
    errno = 0;
    EXPECT_EQ(::waitpid(child, nullptr, WNOHANG), -1) << "no zombie left to collect";
    EXPECT_EQ(errno, ECHILD);
}

// Output too large to hold is not read whole, so it names no version; nothing escapes the query.
TEST_F(PackageQueryTest, OutputPastTheReadingLimitGivesNoVersion)
{
    fakeDpkgQuery("printf 'Version: 1.0\\n'\nexec yes 'Filler: x'\n");
    auto package = query("com.plover.kestrel");
    ASSERT_NE(package, nullptr);
    EXPECT_EQ(versionOf(package), std::nullopt);
}

TEST_F(PackageQueryTest, ALongRecordIsReadToItsEnd)
{
    // More than a pipe holds: the query must read while the tool writes.
    std::string output;
    for (int i = 0; i < 20000; ++i)
        output += "Filler-" + std::to_string(i) + ": some value that takes room\n";
    output += "Version: 7.7.7\n";
    fakeDpkgQueryPrinting(output);
    EXPECT_EQ(queriedVersion(), "7.7.7");
}

} // namespace
