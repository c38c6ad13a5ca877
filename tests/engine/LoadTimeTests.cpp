// The load-time initialiser: which process it acts in, which hooks it installs in which
// order, and what an exception while installing the companion's hooks costs.
#include "EngineTestSupport.h"

#include "engine/KestrelInstall.h"
#include "engine/PloverKestrel.h"
#include "host/springboard/HostCommands.h"
#include "platform/process/ProcessArguments.h"

#include <stdexcept>

using namespace EngineTesting;
using namespace Runtime;

namespace {

struct Row {
    std::string className;
    std::string selector;
    bool operator==(const Row&) const = default;
};

void PrintTo(const Row& row, std::ostream* stream) { *stream << row.className << ' ' << row.selector; }

const std::vector<Row> companionRows = {
    { "PloverAlwaysOnWindow", "handleTapFrom:" },
    { "PloverAlwaysOnWindow", "handleDoubleTapFrom:" },
    { "PloverAlwaysOnWindow", "hide" },
    { "PloverAlwaysOnWindow", "postHideSettings" },
};

std::vector<Row> mainRows(const char* quickActions, const char* notificationList)
{
    return {
        { "SBLockScreenManager", attemptSelector },
        { quickActions, "flashlightLevelDidChange:" },
        { quickActions, "viewWillAppear:" },
        { "SpringBoard", "applicationDidFinishLaunching:" },
        { notificationList, "init" },
        { "SBUIBiometricResource", "_notifyObserversOfEvent:" },
        { "SBCoverSheetWindow", "hitTest:withEvent:" },
    };
}

const std::vector<Row> modernMainRows = mainRows("CSQuickActionsViewController", "CSCombinedListViewController");

std::vector<Row> concatenated(std::vector<Row> first, const std::vector<Row>& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// The rows that were put in place, in order; a skipped row would show as not installed.
std::vector<Row> installedRows()
{
    std::vector<Row> rows;
    for (auto& record : hookJournal()) {
        EXPECT_NE(record.outcome, HookOutcome::Skipped)
            << record.className << ' ' << record.selector << ": " << record.reason;
        rows.push_back({ record.className, record.selector });
    }
    return rows;
}

// Counts how often the shared-state object is made: the engine makes it with alloc and init.
SavedImplementation<RefPtr<Object>()> s_savedSharedStateInit;
int s_sharedStateInits = 0;
RefPtr<Object> countingSharedStateInit(Object* self, Selector selector)
{
    ++s_sharedStateInits;
    return s_savedSharedStateInit(self, selector);
}

SavedImplementation<RefPtr<Object>()> s_savedArguments;
RefPtr<Object> nilArguments(Object*, Selector) { return nullptr; }

class TestException : public NSException {
public:
    TestException()
        : NSException("TestException", "raised while hooking")
    {
    }
};

class LoadTimeTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        registerHost();
        s_sharedStateInits = 0;
        s_savedSharedStateInit.clear();
        MSHookMessageEx(getClass("PloverKestrel"), sel("init"), &countingSharedStateInit, &s_savedSharedStateInit);
        clearHookJournal();
    }

    void installWithArguments(std::vector<std::string> arguments)
    {
        Platform::setProcessArgumentsForTesting(std::move(arguments));
        kestrelInstall();
    }

    void expectInert()
    {
        EXPECT_TRUE(hookJournal().empty()) << "no hooking call at all";
        EXPECT_EQ(s_sharedStateInits, 0) << "no shared state";
        EXPECT_FALSE(screenTouched);
        EXPECT_FALSE(delayedUnlockInProgress);
    }
};

TEST_F(LoadTimeTest, AnEmptyArgumentListLeavesTheProcessUntouched)
{
    installWithArguments({});
    expectInert();
}

TEST_F(LoadTimeTest, AnAbsentArgumentListReadsAsEmpty)
{
    MSHookMessageEx(getClass("NSProcessInfo"), sel("arguments"), &nilArguments, &s_savedArguments);
    clearHookJournal();
    kestrelInstall();
    expectInert();
}

TEST_F(LoadTimeTest, TheProcessNameIsComparedExactlyIncludingLetterCase)
{
    for (auto name : { "/System/Library/CoreServices/SpringBoard.app/springboard", "SPRINGBOARD", "SpringBoard.app",
             "SpringBoardX", "" }) {
        SCOPED_TRACE(name);
        installWithArguments({ name });
        expectInert();
    }
}

TEST_F(LoadTimeTest, OnlyTheFirstArgumentNamesTheProcess)
{
    installWithArguments({ "/usr/libexec/backboardd", "SpringBoard" });
    expectInert();
}

TEST_F(LoadTimeTest, TheDirectoryInFrontOfTheNameIsIrrelevant)
{
    for (auto path : { "SpringBoard", "relative/dir/SpringBoard", "/var/elsewhere/SpringBoard" }) {
        SCOPED_TRACE(path);
        resetRegistryForTesting();
        kestrelResetForTesting();
        registerHost();
        clearHookJournal();
        installWithArguments({ path });
        EXPECT_EQ(installedRows(), modernMainRows);
    }
}

TEST_F(LoadTimeTest, WithoutTheCompanionExactlyTheSevenMainHooksAreInstalledInTableOrder)
{
    kestrelInstall();
    EXPECT_EQ(installedRows(), modernMainRows);
    EXPECT_EQ(s_sharedStateInits, 0) << "the shared state is made on first use, not at load";

    // The probe itself works: first use makes the object, once.
    PloverKestrel::sharedInstance();
    PloverKestrel::sharedInstance();
    EXPECT_EQ(s_sharedStateInits, 1);
}

TEST_F(LoadTimeTest, WithTheCompanionItsFourHooksComeFirstThenTheSevenMain)
{
    installCompanion();
    kestrelInstall();
    EXPECT_EQ(installedRows(), concatenated(companionRows, modernMainRows));
}

TEST_F(LoadTimeTest, AnNSExceptionWhileHookingTheCompanionCostsOnlyTheRemainingCompanionHooks)
{
    installCompanion();
    setHookInterceptorForTesting([](Class*, Selector selector) {
        if (selector == sel("handleDoubleTapFrom:"))
            throw NSException("NSInternalInconsistencyException", "raised while hooking");
    });
    EXPECT_NO_THROW(kestrelInstall());
    EXPECT_EQ(installedRows(), concatenated({ companionRows[0] }, modernMainRows));
}

TEST_F(LoadTimeTest, ASubclassOfNSExceptionIsCaughtTheSameWay)
{
    installCompanion();
    setHookInterceptorForTesting([](Class*, Selector selector) {
        if (selector == sel("handleDoubleTapFrom:"))
            throw TestException();
    });
    EXPECT_NO_THROW(kestrelInstall());
    EXPECT_EQ(installedRows(), concatenated({ companionRows[0] }, modernMainRows));
}

TEST_F(LoadTimeTest, AnExceptionOfAnotherKindEscapesFromTheCompanionBlock)
{
    installCompanion();
    setHookInterceptorForTesting([](Class*, Selector selector) {
        if (selector == sel("handleDoubleTapFrom:"))
            throw std::runtime_error("not a platform exception");
    });
    EXPECT_THROW(kestrelInstall(), std::runtime_error);
    EXPECT_EQ(installedRows(), std::vector<Row> { companionRows[0] }) << "nothing after the failing row";
}

TEST_F(LoadTimeTest, AnNSExceptionAmongTheMainHooksIsNotCaught)
{
    setHookInterceptorForTesting([](Class*, Selector selector) {
        if (selector == sel("flashlightLevelDidChange:"))
            throw NSException("NSInternalInconsistencyException", "raised while hooking");
    });
    EXPECT_THROW(kestrelInstall(), NSException);
    EXPECT_EQ(installedRows(), std::vector<Row> { modernMainRows[0] });
}

class ReleaseNamesTest : public EngineTest { };

TEST_F(ReleaseNamesTest, BeforeIOS13TheDashboardAndNotificationCenterNamesAreHooked)
{
    registerHost(profileFor(12, 4));
    kestrelInstall();
    EXPECT_EQ(
        installedRows(), mainRows("SBDashBoardQuickActionsViewController", "NCNotificationCombinedListViewController"));
}

TEST_F(ReleaseNamesTest, FromIOS13TheCoverSheetNamesAreHooked)
{
    registerHost(profileFor(13, 0));
    kestrelInstall();
    EXPECT_EQ(installedRows(), modernMainRows);
}

TEST_F(ReleaseNamesTest, AReleaseWithoutTheChosenClassesGetsNilClassesThatInstallNothing)
{
    // iOS 13 names chosen, but the process only has the earlier classes: the two rows on each
    // missing class are skipped and every other row still goes in.
    registerHost(profileFor(12, 4));
    Platform::setSystemVersion({ 13, 0, 0 });
    kestrelInstall();
    auto journal = hookJournal();
    ASSERT_EQ(journal.size(), 7u);
    for (size_t index : { 1u, 2u, 4u }) {
        EXPECT_EQ(journal[index].className, "(nil)");
        EXPECT_EQ(journal[index].outcome, HookOutcome::Skipped);
    }
    for (size_t index : { 0u, 3u, 5u, 6u })
        EXPECT_EQ(journal[index].outcome, HookOutcome::Replaced) << journal[index].className;
}

} // namespace
