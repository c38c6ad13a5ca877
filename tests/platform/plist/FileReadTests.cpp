#include "PlistTestSupport.h"

#include <chrono>
#include <sys/stat.h>
#include <unistd.h>

using namespace Platform::Plist;
using PlistTest::ScratchDirectory;

static const char* settingsXml
    = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
      "\t<key>enabled</key>\n\t<true/>\n\t<key>delay</key>\n\t<real>0.5</real>\n</dict>\n</plist>\n";

// A missing file is told apart from every other failure.
TEST(PlistFileRead, MissingIsNotUnreadable)
{
    ScratchDirectory scratch;
    ReadResult result = readFile(scratch.path("absent.plist"));
    EXPECT_EQ(result.status, ReadStatus::Missing);
    EXPECT_EQ(result.reason, "no such file");
    LookupResult lookedUp = lookup(scratch.path("absent.plist"), "enabled");
    EXPECT_EQ(lookedUp.status, LookupStatus::Missing);
}

// Files that are not regular, too large, empty or blank are unreadable, with a reason.
TEST(PlistFileRead, HostileFilesAreUnreadable)
{
    ScratchDirectory scratch;
    ::mkdir(scratch.path("directory").c_str(), 0755);
    ::symlink("loop-b", scratch.path("loop-a").c_str());
    ::symlink("loop-a", scratch.path("loop-b").c_str());
    scratch.write("empty.plist", "");
    scratch.write("blank.plist", " \n\t\n");
    std::string large = scratch.path("large.plist");
    scratch.write("large.plist", "<plist>");
    ASSERT_EQ(::truncate(large.c_str(), maximumFileSize + 1), 0);
    scratch.write("binary-garbage.plist", std::string("\x00\x01\x02\x03", 4));
    scratch.write("dir-as-component", "x");

    const std::pair<std::string, std::string> cases[] = {
        { "directory", "not a regular file" },
        { "loop-a", "symlink loop" },
        { "empty.plist", "not a property list" },
        { "blank.plist", "not a property list" },
        { "large.plist", "larger than 16 MiB" },
        { "binary-garbage.plist", "not a property list" },
        { "dir-as-component/x.plist", "a path component is not a directory" },
    };
    for (auto& [name, reason] : cases) {
        ReadResult result = readFile(scratch.path(name));
        EXPECT_EQ(result.status, ReadStatus::Unreadable) << name;
        EXPECT_EQ(result.reason, reason) << name;
        EXPECT_EQ(lookup(scratch.path(name), "enabled").status, LookupStatus::Unreadable) << name;
    }
    EXPECT_EQ(readFile("/dev/null").reason, "not a regular file");
}

// A FIFO with no writer must not block the reader.
TEST(PlistFileRead, FifoReturnsPromptly)
{
    ScratchDirectory scratch;
    std::string fifo = scratch.path("settings.plist");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(readFile(fifo).reason, "not a regular file");
    EXPECT_EQ(lookup(fifo, "enabled").status, LookupStatus::Unreadable);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

// Permission denied is unreadable (checked as an unprivileged user: root reads mode-000 files).
TEST(PlistFileRead, PermissionDeniedIsUnreadable)
{
    ScratchDirectory scratch;
    ::chmod(scratch.path().c_str(), 0755);
    std::string path = scratch.write("locked.plist", settingsXml);
    ::chmod(path.c_str(), 0);
    EXPECT_TRUE(PlistTest::runUnprivileged([&] {
        ReadResult result = readFile(path);
        return result.status == ReadStatus::Unreadable && result.reason == "permission denied"
            && lookup(path, "enabled").status == LookupStatus::Unreadable;
    }));
}

// A file exactly at the cap is read; the cap applies to size, not content.
TEST(PlistFileRead, FileAtTheCapIsRead)
{
    ScratchDirectory scratch;
    std::string path = scratch.path("big.plist");
    std::string head = "<plist><string>";
    std::string tail = "</string></plist>";
    scratch.write("big.plist", head + std::string(maximumFileSize - head.size() - tail.size(), 'x') + tail);
    ReadResult result = readFile(path);
    ASSERT_TRUE(result.ok()) << result.reason;
    EXPECT_EQ(result.value.asString()->size(), maximumFileSize - head.size() - tail.size());
}

// The settings lookup: found, absent, and the same answer as a full read.
TEST(PlistFileRead, LookupOutcomes)
{
    ScratchDirectory scratch;
    std::string path = scratch.write("settings.plist", settingsXml);
    LookupResult enabled = lookup(path, "enabled");
    EXPECT_EQ(enabled.status, LookupStatus::Found);
    EXPECT_EQ(enabled.value, Value::boolean(true));
    EXPECT_EQ(lookup(path, "delay").value, *readFile(path).value.asDictionary()->find("delay"));
    EXPECT_EQ(lookup(path, "other").status, LookupStatus::KeyAbsent);

    scratch.write("settings.plist", std::string(settingsXml).replace(std::string(settingsXml).find("0.5"), 3, "0.5.1"));
    LookupResult corrupt = lookup(path, "enabled");
    EXPECT_EQ(corrupt.status, LookupStatus::Unreadable);
    EXPECT_EQ(corrupt.reason, "XML: line 7: malformed real");
}
