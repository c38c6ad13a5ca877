// The load-time initialiser: which process it acts in, which hooks it installs in which
// order, and what an exception while installing the companion's hooks costs.
#include "EngineTestSupport.h"

#include "engine/EngineTesting.h"
#include "engine/Hooks.h"
#include "engine/KestrelInstall.h"
#include "engine/PloverKestrel.h"
#include "host/springboard/HostCommands.h"
#include "platform/log/SystemLog.h"
#include "platform/process/ProcessArguments.h"
#include "platform/process/ProcessArgumentsTesting.h"
#include "runtime/ClassDefinition.h"
#include "runtime/Substrate.h"
#include "runtime/SubstrateJournal.h"

#include <filesystem>
#include <stdexcept>

using namespace EngineTesting;
using namespace ObjC;

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
id (*s_savedSharedStateInit)(id, SEL);
int s_sharedStateInits = 0;
id countingSharedStateInit(id self, SEL selector)
{
    ++s_sharedStateInits;
    return s_savedSharedStateInit(self, selector);
}

id (*s_savedArguments)(id, SEL);
id nilArguments(id, SEL) { return nullptr; }

class LoadTimeTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        registerHost();
        s_sharedStateInits = 0;
        hookMessage(getClass("PloverKestrel"), sel("init"), &countingSharedStateInit, &s_savedSharedStateInit);
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
    hookMessage(getClass("NSProcessInfo"), sel("arguments"), &nilArguments, &s_savedArguments);
    clearHookJournal();
    kestrelInstall();
    expectInert();
}

TEST_F(LoadTimeTest, TheProcessNameIsComparedExactlyIncludingLetterCase)
{
    for (auto name : { "/System/Library/CoreServices/SpringBoard.app/springboard", "SPRINGBOARD", "SpringBoard.app",
             "SpringBoardX", "" }) {
        SCOPED_TRACE(name);
        kestrelResetForTesting();
        installWithArguments({ name });
        expectInert();
    }
}

TEST_F(LoadTimeTest, OnlyTheFirstCallInstallsAnythingAndTheTestResetAllowsAnother)
{
    // An inert first call is the one call too.
    installWithArguments({ "/usr/libexec/backboardd" });
    installWithArguments({ springBoardPath });
    expectInert();

    kestrelResetForTesting();
    clearHookJournal();
    kestrelInstall();
    ASSERT_EQ(installedRows(), modernMainRows);
    kestrelInstall();
    EXPECT_EQ(hookJournal().size(), modernMainRows.size()) << "a second call hooks nothing";

    // The replacements were not hooked over themselves: an attempt goes through once.
    SpringBoardHost::createLockScreenObjects();
    clearEvents();
    EXPECT_TRUE(faceMatch());
    EXPECT_EQ(attempts(), std::vector<std::string> { "passcode=nil mesa=yes finish=yes result=yes" });
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
        // The hooks of the path before are taken out again.
        kestrelResetForTesting();
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

// A companion whose window class raises when asked for handleDoubleTapFrom:, installed where
// the engine looks for its companion.
class RaisingCompanionTest : public LoadTimeTest {
protected:
    void installRaisingCompanion()
    {
        auto target = std::filesystem::path(hostPath(companionPath));
        std::filesystem::create_directories(target.parent_path());
        std::filesystem::copy_file(std::string(KESTREL_BUILD_DIR) + "/lib/NightjarRaising.dylib", target,
            std::filesystem::copy_options::overwrite_existing);
    }
};

TEST_F(RaisingCompanionTest, AnNSExceptionWhileHookingTheCompanionCostsOnlyTheRemainingCompanionHooks)
{
    installRaisingCompanion();
    EXPECT_NO_THROW(kestrelInstall());
    EXPECT_EQ(installedRows(), concatenated({ companionRows[0] }, modernMainRows));
}

TEST_F(RaisingCompanionTest, ASubclassOfNSExceptionIsCaughtTheSameWay)
{
    ClassDefinition("TestException", getClass("NSException")).registerClass();
    installRaisingCompanion();
    EXPECT_NO_THROW(kestrelInstall());
    EXPECT_EQ(installedRows(), concatenated({ companionRows[0] }, modernMainRows));
}

// The handler is the runtime's catch-all: what a class raises from C++ code is caught there too.
TEST_F(RaisingCompanionTest, AnExceptionOfAnotherKindIsCaughtThereToo)
{
    ClassDefinition("TestRaisesCxxException", getClass("NSObject")).registerClass();
    installRaisingCompanion();
    EXPECT_NO_THROW(kestrelInstall());
    EXPECT_EQ(installedRows(), concatenated({ companionRows[0] }, modernMainRows));
}

// A main class that raises when asked for a method: the exception is not the companion
// block's, so it leaves the set-up, after the rows before it.
BOOL raiseForFlashlight(id, SEL, SEL selector)
{
    if (selector == sel("flashlightLevelDidChange:")) {
        id exception = send<id>(getClass("NSException"), sel("exceptionWithName:reason:userInfo:"),
            string("NSInternalInconsistencyException"), string("raised while hooking"), static_cast<id>(nullptr));
        send(exception, sel("raise"));
    }
    return NO;
}

class RaisingMainClassTest : public EngineTest { };

TEST_F(RaisingMainClassTest, AnNSExceptionAmongTheMainHooksIsNotCaught)
{
    // Registered before SpringBoard's own: the name is this one's, without the method.
    ClassDefinition quickActions("CSQuickActionsViewController", getClass("NSObject"));
    quickActions.classMethod("resolveInstanceMethod:", &raiseForFlashlight);
    quickActions.registerClass();
    registerHost();
    clearHookJournal();
    EXPECT_ANY_THROW(kestrelInstall());
    EXPECT_EQ(installedRows(), std::vector<Row> { modernMainRows[0] });
}

// A companion that does not fit costs its own hooks only: SpringBoard comes up with every
// main hook in place. (Loading a companion registers its class for the rest of the process,
// so each case needs a process that has loaded none before; CTest runs each test alone.)
class CompanionMisfitTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        if (getClass("PloverAlwaysOnWindow"))
            GTEST_SKIP() << "an earlier test in this process loaded a companion; run this test on its own";
    }

    void putAtCompanionPath(const std::string& builtLibrary)
    {
        auto target = std::filesystem::path(hostPath(companionPath));
        std::filesystem::create_directories(target.parent_path());
        std::filesystem::copy_file(builtLibrary, target, std::filesystem::copy_options::overwrite_existing);
    }

    // Boots, finishes launching and unlocks with a face match; answers whether all of it worked.
    void expectSpringBoardUp()
    {
        EXPECT_NO_THROW(boot());
        SpringBoardHost::finishLaunching();
        EXPECT_EQ(countEvents("launch finished"), 1u);
        clearEvents();
        EXPECT_TRUE(faceMatch());
        EXPECT_EQ(attempts(), std::vector<std::string> { "passcode=nil mesa=yes finish=yes result=yes" })
            << "the unlock hook is in place";
    }

    static std::vector<HookRecord> journalOf(HookOutcome outcome)
    {
        std::vector<HookRecord> records;
        for (auto& record : hookJournal()) {
            if (record.outcome == outcome)
                records.push_back(record);
        }
        return records;
    }
    static std::vector<Row> rowsOf(const std::vector<HookRecord>& records)
    {
        std::vector<Row> rows;
        for (auto& record : records)
            rows.push_back({ record.className, record.selector });
        return rows;
    }
};

TEST_F(CompanionMisfitTest, ATapHandlerOfAnotherSignatureIsSkippedWithAWarningAndTheOtherTenAreInstalled)
{
    putAtCompanionPath(std::string(KESTREL_BUILD_DIR) + "/lib/NightjarOtherSignature.dylib");
    expectSpringBoardUp();

    auto skipped = journalOf(HookOutcome::Skipped);
    ASSERT_EQ(rowsOf(skipped), std::vector<Row> { companionRows[0] });
    EXPECT_EQ(skipped[0].reason, "the replacement's type encoding differs from the method's");
    EXPECT_EQ(rowsOf(journalOf(HookOutcome::Replaced)),
        concatenated({ companionRows[1], companionRows[2], companionRows[3] }, modernMainRows));
    EXPECT_FALSE(Hooks::savedHandleTapFrom) << "its slot is left empty";

    auto log = Platform::readSystemLog();
    ASSERT_EQ(log.size(), 1u) << "one warning line in the system log";
    EXPECT_NE(
        log[0].find("MSHookMessageEx: PloverAlwaysOnWindow handleTapFrom:: the replacement's type encoding differs"),
        std::string::npos)
        << log[0];

    // The window's own handler still runs; the hooked ones run through the engine.
    send<bool>(host().companionWindow, sel("handleTapFrom:"), nullptr);
    send(host().companionWindow, sel("hide"));
    EXPECT_EQ(countEvents("aod tap"), 1u);
    EXPECT_EQ(countEvents("aod hide"), 1u);

    // The system's own tap, sent as the system declares it, reaches nothing and takes nothing down.
    EXPECT_NO_THROW(SpringBoardHost::runHostCommand(Driver::Aod { Driver::AodAction::Tap }));
    EXPECT_EQ(countEvents("aod tap companion=misfit"), 1u);
}

TEST_F(CompanionMisfitTest, ACompanionFileThatIsNoLibrarySkipsTheFourCompanionRows)
{
    writeFile(companionPath, std::string(4096, '\x5a'));
    expectSpringBoardUp();

    auto skipped = journalOf(HookOutcome::Skipped);
    EXPECT_EQ(rowsOf(skipped),
        (std::vector<Row> { { "(nil)", "handleTapFrom:" }, { "(nil)", "handleDoubleTapFrom:" }, { "(nil)", "hide" },
            { "(nil)", "postHideSettings" } }));
    EXPECT_EQ(rowsOf(journalOf(HookOutcome::Replaced)), modernMainRows);
    EXPECT_FALSE(host().companionWindow) << "no window class came of it";
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
