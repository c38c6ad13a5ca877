#include "runtime/ClassDefinition.h"
#include "runtime/Substrate.h"
#include "runtime/SubstrateJournal.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace ObjC;

namespace {

id animalSound(id, SEL) { return string("..."); }
long long animalLegs(id, SEL) { return 4; }
long long birdLegs(id, SEL) { return 2; }
double animalWeight(id, SEL, double factor, long long, double offset) { return 3 * factor + offset; }

id (*s_savedBirdSound)(id, SEL);
id (*s_savedAnimalSound)(id, SEL);
long long (*s_savedLegs)(id, SEL);
long long (*s_savedLegsAgain)(id, SEL);
double (*s_savedWeight)(id, SEL, double, long long, double);

std::string text(id object) { return object ? utf8(object) : "(nil)"; }
id birdSound(id self, SEL cmd) { return string(("tweet+" + text(s_savedBirdSound(self, cmd))).c_str()); }
id roar(id self, SEL cmd) { return string(("roar+" + text(s_savedAnimalSound(self, cmd))).c_str()); }
long long moreLegs(id self, SEL cmd) { return s_savedLegs(self, cmd) + 10; }
long long evenMoreLegs(id self, SEL cmd) { return s_savedLegsAgain(self, cmd) + 100; }
double heavier(id self, SEL cmd, double factor, long long count, double offset)
{
    return s_savedWeight(self, cmd, factor, count, offset) + 1000;
}
BOOL wrongType(id, SEL) { return YES; }

std::vector<std::string> s_warnings;
void collectWarning(const char* line) { s_warnings.emplace_back(line); }

// Each test runs in a process of its own, so the classes are made once per test.
class Substrate : public testing::Test {
protected:
    void SetUp() override
    {
        ClassDefinition animal("Animal", getClass("NSObject"));
        animal.method("sound", &animalSound).method("legs", &animalLegs).method("weight:count:offset:", &animalWeight);
        animal.registerClass();
        ClassDefinition bird("Bird", getClass("Animal"));
        bird.method("legs", &birdLegs);
        bird.registerClass();
        ClassDefinition sparrow("Sparrow", getClass("Bird"));
        sparrow.registerClass();
        s_warnings.clear();
        setHookWarningHandler(&collectWarning);
        clearHookJournal();
    }
    void TearDown() override { setHookWarningHandler(nullptr); }

    static RetainPtr make(const char* name) { return allocInit(getClass(name)); }
};

TEST_F(Substrate, AMethodTheClassImplementsIsReplacedAndSavedForItAndItsSubclasses)
{
    RetainPtr sparrow = make("Sparrow");
    // Messaged before the hook: its dispatch table must be brought up to date.
    EXPECT_EQ(send<long long>(sparrow, sel("legs")), 2);
    hookMessage(getClass("Bird"), sel("legs"), &moreLegs, &s_savedLegs);
    EXPECT_EQ(send<long long>(make("Bird"), sel("legs")), 12);
    EXPECT_EQ(send<long long>(sparrow, sel("legs")), 12);
    EXPECT_EQ(send<long long>(make("Animal"), sel("legs")), 4) << "the superclass is untouched";
    EXPECT_EQ(s_savedLegs, &birdLegs);
    ASSERT_EQ(hookJournal().size(), 1u);
    EXPECT_EQ(hookJournal()[0].outcome, HookOutcome::Replaced);
}

TEST_F(Substrate, AnInheritedMethodGetsAnOverrideWhoseSavedSlotFindsTheSuperclassAtCallTime)
{
    RetainPtr bird = make("Bird");
    EXPECT_EQ(text(send<id>(bird, sel("sound"))), "...");
    hookMessage(getClass("Bird"), sel("sound"), &birdSound, &s_savedBirdSound);
    EXPECT_EQ(text(send<id>(bird, sel("sound"))), "tweet+...");
    ASSERT_EQ(hookJournal().size(), 1u);
    EXPECT_EQ(hookJournal()[0].outcome, HookOutcome::AddedOverride);

    // A later hook on the superclass is reached through the bird's saved slot.
    hookMessage(getClass("Animal"), sel("sound"), &roar, &s_savedAnimalSound);
    EXPECT_EQ(text(send<id>(bird, sel("sound"))), "tweet+roar+...");
    EXPECT_EQ(text(send<id>(make("Sparrow"), sel("sound"))), "tweet+roar+...");
    EXPECT_EQ(text(send<id>(make("Animal"), sel("sound"))), "roar+...");
}

TEST_F(Substrate, TheTrampolineHandsOnIntegerAndFloatingPointArgumentsAndResults)
{
    hookMessage(getClass("Bird"), sel("weight:count:offset:"), &heavier, &s_savedWeight);
    EXPECT_DOUBLE_EQ(send<double>(make("Bird"), sel("weight:count:offset:"), 2.5, 9LL, 0.25), 1007.75);
}

TEST_F(Substrate, NilArgumentsOrAnUnknownSelectorInstallNothingAndLeaveTheSlotAlone)
{
    hookMessage(static_cast<Class>(nullptr), sel("legs"), &moreLegs, &s_savedLegs);
    hookMessage(getClass("Bird"), sel("wings"), &moreLegs, &s_savedLegs);
    hookMessage(getClass("Bird"), static_cast<SEL>(nullptr), &moreLegs, &s_savedLegs);
    hookMessage(getClass("Bird"), sel("legs"), static_cast<long long (*)(id, SEL)>(nullptr), &s_savedLegs);
    EXPECT_EQ(s_savedLegs, nullptr);
    EXPECT_EQ(s_warnings.size(), 4u);
    auto journal = hookJournal();
    ASSERT_EQ(journal.size(), 4u);
    EXPECT_EQ(journal[0].className, "(nil)");
    EXPECT_EQ(journal[2].selector, "(nil)");
    for (auto& record : journal)
        EXPECT_EQ(record.outcome, HookOutcome::Skipped);
    EXPECT_EQ(journal[1].reason, "no class in the hierarchy implements the selector");
    EXPECT_NE(s_warnings[1].find("Bird wings"), std::string::npos) << s_warnings[1];

    // Installation goes on with the next hook.
    hookMessage(getClass("Bird"), sel("legs"), &moreLegs, &s_savedLegs);
    EXPECT_EQ(send<long long>(make("Bird"), sel("legs")), 12);
}

TEST_F(Substrate, HookingTwiceChainsTheReplacements)
{
    hookMessage(getClass("Bird"), sel("legs"), &moreLegs, &s_savedLegs);
    hookMessage(getClass("Bird"), sel("legs"), &evenMoreLegs, &s_savedLegsAgain);
    EXPECT_EQ(send<long long>(make("Bird"), sel("legs")), 112);
}

TEST_F(Substrate, AReplacementOfAnotherTypeIsSkippedWithAWarningAndInstallationGoesOn)
{
    BOOL (*savedWrong)(id, SEL) = nullptr;
    hookMessage(getClass("Bird"), sel("legs"), &wrongType, &savedWrong);
    hookMessage(getClass("Bird"), sel("sound"), &wrongType, &savedWrong);
    hookMessage(getClass("Bird"), sel("legs"), &moreLegs, &s_savedLegs);

    EXPECT_EQ(savedWrong, nullptr) << "the slot is left as it was";
    RetainPtr bird = make("Bird");
    EXPECT_EQ(send<long long>(bird, sel("legs")), 12) << "the next hook went in on the untouched method";
    EXPECT_EQ(text(send<id>(bird, sel("sound"))), "...") << "no override was added";
    auto journal = hookJournal();
    ASSERT_EQ(journal.size(), 3u);
    EXPECT_EQ(journal[0].outcome, HookOutcome::Skipped);
    EXPECT_EQ(journal[1].outcome, HookOutcome::Skipped);
    EXPECT_EQ(journal[0].reason, "the replacement's type encoding differs from the method's");
    EXPECT_EQ(journal[2].outcome, HookOutcome::Replaced);
    ASSERT_EQ(s_warnings.size(), 2u);
    EXPECT_NE(s_warnings[0].find("Bird legs"), std::string::npos) << s_warnings[0];
}

} // namespace
