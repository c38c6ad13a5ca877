#include "platform/dispatch/MainQueue.h"
#include "platform/foundation/FoundationValue.h"
#include "platform/foundation/PlatformCalls.h"
#include "platform/log/SystemLog.h"
#include "platform/plist/PropertyList.h"
#include "platform/system/TemporaryDevice.h"

#include <gtest/gtest.h>
#include <limits>
#include <vector>

using namespace Platform;

namespace {

std::vector<int> s_ran;
void record(void* context) { s_ran.push_back(static_cast<int>(reinterpret_cast<intptr_t>(context))); }
void* token(int value) { return reinterpret_cast<void*>(intptr_t(value)); }

class DispatchCalls : public testing::Test {
protected:
    void SetUp() override
    {
        resetMainQueue(ClockKind::Virtual);
        s_ran.clear();
    }
};

TEST_F(DispatchCalls, DelaysKeepTheQueueRulesAtTheEdgesOfTheClock)
{
    dispatch_queue_t main = dispatch_get_main_queue();
    mainQueue().advanceBy(10);
    EXPECT_EQ(dispatch_time(DISPATCH_TIME_NOW, 5), 15u);
    EXPECT_EQ(dispatch_time(DISPATCH_TIME_NOW, std::numeric_limits<int64_t>::max()), DISPATCH_TIME_FOREVER);
    EXPECT_EQ(dispatch_time(DISPATCH_TIME_FOREVER, -5), DISPATCH_TIME_FOREVER);
    EXPECT_EQ(dispatch_time(DISPATCH_TIME_NOW, -100), DISPATCH_TIME_NOW) << "before the clock's start is now";

    dispatch_after_f(dispatch_time(DISPATCH_TIME_NOW, 20), main, token(3), &record);
    dispatch_after_f(dispatch_time(DISPATCH_TIME_NOW, -5), main, token(2), &record);
    dispatch_async_f(main, token(1), &record);
    dispatch_after_f(DISPATCH_TIME_FOREVER, main, token(9), &record);
    dispatch_after_f(dispatch_time(DISPATCH_TIME_NOW, std::numeric_limits<int64_t>::max() - 5), main, token(8), &record);
    mainQueue().runUntilIdle();
    EXPECT_EQ(s_ran, (std::vector<int> { 2, 1 })) << "a past deadline runs as plain async work, in its turn";
    mainQueue().advanceBy(19);
    EXPECT_EQ(s_ran.size(), 2u);
    mainQueue().advanceBy(1);
    EXPECT_EQ(s_ran, (std::vector<int> { 2, 1, 3 }));
    mainQueue().advanceBy(std::numeric_limits<int64_t>::max() / 2);
    EXPECT_EQ(s_ran.size(), 3u) << "forever never comes";
    EXPECT_EQ(mainQueue().pendingCount(), 0u) << "and is not kept waiting either";
}

TEST_F(DispatchCalls, OnceRunsOncePerPredicateAndATaskRunsInAnAutoreleasePool)
{
    static dispatch_once_t predicate = 0;
    dispatch_once_f(&predicate, token(1), &record);
    dispatch_once_f(&predicate, token(2), &record);
    EXPECT_EQ(s_ran, (std::vector<int> { 1 }));

    // An object autoreleased by a task is gone when the task's turn ends.
    static ObjC::WeakPtr* watched = nullptr;
    ObjC::WeakPtr weak;
    watched = &weak;
    dispatch_async_f(dispatch_get_main_queue(), nullptr, [](void*) {
        id object = ObjC::send<id>(ObjC::allocInit(ObjC::getClass("NSObject")).leak(), ObjC::sel("autorelease"));
        *watched = ObjC::WeakPtr(object);
        EXPECT_TRUE(watched->get());
    });
    mainQueue().runUntilIdle();
    EXPECT_FALSE(weak.get());
}

TEST(FoundationLog, NSLogWritesOneLineToTheSystemLogWithoutFoundationsPrefix)
{
    TemporaryDevice device;
    NSLog(ObjC::string("PloverDev - Preference %@ not found."), ObjC::string("Bogus"));
    auto lines = readSystemLog();
    ASSERT_EQ(lines.size(), 1u);
    size_t message = lines[0].find("]: ");
    ASSERT_NE(message, std::string::npos) << lines[0];
    EXPECT_EQ(lines[0].substr(message + 3), "PloverDev - Preference Bogus not found.") << "no second prefix, no line break";
}

TEST(PropertyListCalls, FilesReachTheSystemAsFoundationObjectsWithTheirKindsKept)
{
    TemporaryDevice device;
    const char* path = "/test.plist";
    PlatformFileState state = PlatformFileRead;
    EXPECT_EQ(PlatformPropertyListWithContentsOfFile(path, &state), nullptr);
    EXPECT_EQ(state, PlatformFileMissing);

    Plist::Dictionary stored;
    stored.set("Flag", Plist::Value::boolean(true));
    stored.set("Count", Plist::Value::integer(7));
    stored.set("Big", Plist::Value::unsignedInteger(std::numeric_limits<uint64_t>::max()));
    stored.set("Delay", Plist::Value::real(0.5));
    stored.set("Name", Plist::Value::string("caf\xc3\xa9"));
    stored.set("List", Plist::Value(Plist::Array { Plist::Value::integer(1), Plist::Value::data({ 0, 1, 2 }) }));
    stored.set("When", Plist::Value::date({ 12.5 }));
    ASSERT_TRUE(PlatformWritePropertyListAtomically(path, foundationObject(Plist::Value(stored))));

    id file = PlatformPropertyListWithContentsOfFile(path, &state);
    EXPECT_EQ(state, PlatformFileRead);
    auto back = propertyListValue(file);
    ASSERT_TRUE(back);
    EXPECT_EQ(Plist::toXml(*back), Plist::toXml(Plist::Value(stored))) << "booleans, integers, reals, data and dates come back as they went";

    id count = PlatformPropertyListEntry(path, ObjC::string("Count"), &state);
    EXPECT_EQ(ObjC::send<long long>(count, ObjC::sel("longLongValue")), 7);
    EXPECT_EQ(PlatformPropertyListEntry(path, ObjC::string("Absent"), &state), nullptr);
    EXPECT_EQ(state, PlatformFileRead) << "the file was read; only the key is missing";

    device.writeFile(path, "<plist><dict><key>A</key><integer>12abc</integer></dict></plist>");
    EXPECT_EQ(PlatformPropertyListEntry(path, ObjC::string("A"), &state), nullptr);
    EXPECT_EQ(state, PlatformFileUnreadable);

    // What is no property list is not written.
    EXPECT_FALSE(PlatformWritePropertyListAtomically(path, ObjC::toId(ObjC::getClass("NSObject"))));
    EXPECT_FALSE(PlatformWritePropertyListAtomically(nullptr, file));
}

} // namespace
