// SpringBoard's classes as the runtime holds them: the names of the profile's release, the
// methods with the types the system declares them with (a hook of another type is refused),
// the notification route's instance variables, and the objects they own.
#include "host/springboard/HostCommands.h"
#include "host/springboard/SpringBoardClasses.h"
#include "platform/foundation/CoreFoundation.h"
#include "runtime/ObjC.h"

#include <gtest/gtest.h>
#include <string>

using namespace ObjC;
using namespace SpringBoardHost;

namespace {

// The type string of an instance method without its frame offsets: "C@:@CC@".
std::string typesOf(const char* className, const char* selector)
{
    Method method = class_getInstanceMethod(getClass(className), sel(selector));
    if (!method)
        return "(none)";
    std::string types;
    for (const char* c = method_getTypeEncoding(method); *c; ++c) {
        if (*c < '0' || *c > '9')
            types += *c == 'l' ? 'q' : *c;
    }
    return types;
}

HostProfile profile(int major, NotificationRoute route)
{
    HostProfile profile;
    profile.iosVersion = { major, 0, 0 };
    profile.notificationRoute = route;
    return profile;
}

class SpringBoardClassesTest : public testing::Test {
protected:
    void TearDown() override { HostState::shared().resetForTesting(); }
};

TEST_F(SpringBoardClassesTest, TheMethodsHaveTheTypesTheSystemDeclares)
{
    registerSpringBoardClasses(profile(14, NotificationRoute::Structured));
    EXPECT_EQ(typesOf("SBLockScreenManager", "_attemptUnlockWithPasscode:mesa:finishUIUnlock:completion:"), "C@:@CC@");
    EXPECT_EQ(typesOf("SBLockScreenManager", "isUILocked"), "C@:");
    EXPECT_EQ(typesOf("SpringBoard", "applicationDidFinishLaunching:"), "v@:@");
    EXPECT_EQ(typesOf("SBUIBiometricResource", "_notifyObserversOfEvent:"), "v@:q");
    EXPECT_EQ(typesOf("SBUIBiometricResource", "_setAuthenticated:"), "v@:C");
    EXPECT_EQ(typesOf("SBCoverSheetWindow", "hitTest:withEvent:"), "@@:{CGPoint=dd}@");
    EXPECT_EQ(typesOf("CSQuickActionsViewController", "flashlightLevelDidChange:"), "v@:q");
    EXPECT_EQ(typesOf("CSQuickActionsViewController", "viewWillAppear:"), "v@:C");
    EXPECT_EQ(typesOf("CSCombinedListViewController", "init"), "@@:");
    EXPECT_EQ(typesOf("AVAudioSession", "isOtherAudioPlaying"), "C@:");
    EXPECT_FALSE(getClass("SBDashBoardQuickActionsViewController")) << "one release's names only";

    // A second profile changes nothing: a process has one.
    registerSpringBoardClasses(profile(12, NotificationRoute::Priority));
    EXPECT_FALSE(getClass("NCNotificationCombinedListViewController"));
}

TEST_F(SpringBoardClassesTest, TheStructuredRouteOwnsItsListsThroughObjectInstanceVariables)
{
    registerSpringBoardClasses(profile(14, NotificationRoute::Structured));
    Class listClass = getClass("CSCombinedListViewController");
    EXPECT_FALSE(class_respondsToSelector(listClass, sel("notificationPriorityList")));
    Ivar structuredIvar = instanceVariable(listClass, "_structuredListViewController");
    ASSERT_TRUE(structuredIvar);
    EXPECT_STREQ(ivar_getTypeEncoding(structuredIvar), "@");

    WeakPtr weakStructured;
    WeakPtr weakMaster;
    {
        RetainPtr controller = allocInit(listClass);
        id structured = objectIvar(controller, "_structuredListViewController");
        ASSERT_TRUE(structured);
        id master = objectIvar(structured, "_masterList");
        ASSERT_TRUE(master);
        weakStructured = WeakPtr(structured);
        weakMaster = WeakPtr(master);

        HostState::shared().notifications = { "com.example.mail", std::nullopt };
        AutoreleasePool pool;
        id all = send<id>(send<id>(master, sel("incomingSectionList")), sel("allNotificationRequests"));
        ASSERT_EQ(send<unsigned long>(all, sel("count")), 2ul);
        id second = send<id>(all, sel("objectAtIndex:"), 1ul);
        EXPECT_EQ(send<id>(second, sel("sectionIdentifier")), nullptr);
    }
    EXPECT_FALSE(weakStructured.get()) << "the controller lets its structured list go";
    EXPECT_FALSE(weakMaster.get()) << "and that its master list";
}

TEST_F(SpringBoardClassesTest, ThePriorityRouteAnswersAListInsteadOfTheInstanceVariable)
{
    registerSpringBoardClasses(profile(12, NotificationRoute::Priority));
    Class listClass = getClass("NCNotificationCombinedListViewController");
    ASSERT_TRUE(listClass);
    EXPECT_TRUE(getClass("SBDashBoardQuickActionsViewController"));
    EXPECT_FALSE(instanceVariable(listClass, "_structuredListViewController"));

    HostState::shared().notifications = { "com.apple.donotdisturb" };
    RetainPtr controller = allocInit(listClass);
    AutoreleasePool pool;
    id list = send<id>(controller, sel("notificationPriorityList"));
    ASSERT_EQ(send<unsigned long>(list, sel("count")), 1ul);
    id request = send<id>(list, sel("notificationRequestAtIndex:"), 0ul);
    EXPECT_TRUE(isEqualToString(send<id>(request, sel("sectionIdentifier")), "com.apple.donotdisturb"));
    EXPECT_EQ(send<id>(list, sel("notificationRequestAtIndex:"), 1ul), nullptr) << "past the end: nil";
}

// A passcode reaches the lock-screen manager as an object and comes back on the timeline as
// the bytes the driver typed, text that is not UTF-8 included.
TEST_F(SpringBoardClassesTest, AnAttemptsPasscodeIsReportedAsTypedWhateverItsBytes)
{
    registerSpringBoardClasses(profile(14, NotificationRoute::Structured));
    createLockScreenObjects();
    std::vector<std::optional<std::string>> reported;
    setHostEventSink([&](const Driver::Event& event) {
        if (auto* call = std::get_if<Driver::AttemptCall>(&event))
            reported.push_back(call->passcode);
    });
    for (const char* typed : { "\xff\xfe", "p\xc3\xa4ss", "", "1234" })
        runHostCommand(Driver::Attempt { typed, false, true });
    runHostCommand(Driver::Attempt { std::nullopt, false, true });
    setHostEventSink(nullptr);
    EXPECT_EQ(reported, (std::vector<std::optional<std::string>> { "\xff\xfe", "p\xc3\xa4ss", "", "1234", std::nullopt }));
    EXPECT_FALSE(HostState::shared().deviceLocked) << "the right passcode unlocked";
}

} // namespace
