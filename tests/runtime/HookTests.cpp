#include "runtime/Runtime.h"
#include "runtime/RuntimeTesting.h"

#include <gtest/gtest.h>

using namespace Runtime;

namespace {

class Animal : public NSObject {
public:
    RefPtr<Object> sound() const { return NSString::create("..."); }
    int64_t legs() const { return 4; }
};
class Bird : public Animal {
public:
    int64_t legs() const { return 2; }
};

std::string text(const RefPtr<Object>& object) { return stringValue(object.get()).value_or("(nil)"); }

SavedImplementation<RefPtr<Object>()> s_savedBirdSound;
SavedImplementation<RefPtr<Object>()> s_savedAnimalSound;
SavedImplementation<int64_t()> s_savedLegs;
SavedImplementation<int64_t()> s_savedLegsAgain;

RefPtr<Object> birdSound(Object* self, Selector selector)
{
    return NSString::create("tweet+" + text(s_savedBirdSound(self, selector)));
}
RefPtr<Object> animalSound(Object* self, Selector selector)
{
    return NSString::create("roar+" + text(s_savedAnimalSound(self, selector)));
}
int64_t moreLegs(Object* self, Selector selector) { return s_savedLegs(self, selector) + 10; }
int64_t evenMoreLegs(Object* self, Selector selector) { return s_savedLegsAgain(self, selector) + 100; }
bool wrongType(Object*, Selector) { return true; }

class HookTest : public testing::Test {
protected:
    void SetUp() override
    {
        resetRegistryForTesting();
        clearHookJournal();
        for (auto* saved : { &s_savedBirdSound, &s_savedAnimalSound })
            saved->clear();
        s_savedLegs.clear();
        s_savedLegsAgain.clear();
        ClassBuilder<Animal>("Animal", "NSObject").method<&Animal::sound>("sound").method<&Animal::legs>("legs");
        ClassBuilder<Bird>("Bird", "Animal").method<&Bird::legs>("legs");
    }
};

TEST_F(HookTest, AMethodTheClassImplementsIsReplacedAndSaved)
{
    MSHookMessageEx(getClass("Bird"), sel("legs"), &moreLegs, &s_savedLegs);
    auto bird = allocInit(getClass("Bird"));
    EXPECT_EQ(send<int64_t>(bird, "legs"), 12);
    EXPECT_EQ(send<int64_t>(allocInit(getClass("Animal")), "legs"), 4) << "the superclass is untouched";
}

TEST_F(HookTest, AnInheritedMethodGetsAnOverrideWhoseSavedSlotReachesTheSuperclassAtCallTime)
{
    MSHookMessageEx(getClass("Bird"), sel("sound"), &birdSound, &s_savedBirdSound);
    auto bird = allocInit(getClass("Bird"));
    EXPECT_EQ(text(send<RefPtr<Object>>(bird, "sound")), "tweet+...");
    ASSERT_EQ(hookJournal().size(), 1u);
    EXPECT_EQ(hookJournal()[0].outcome, HookOutcome::AddedOverride);

    // A later hook on the superclass is still reached through the bird's saved slot.
    MSHookMessageEx(getClass("Animal"), sel("sound"), &animalSound, &s_savedAnimalSound);
    EXPECT_EQ(text(send<RefPtr<Object>>(bird, "sound")), "tweet+roar+...");
    EXPECT_EQ(text(send<RefPtr<Object>>(allocInit(getClass("Animal")), "sound")), "roar+...");
}

TEST_F(HookTest, ANilClassOrAMissingSelectorInstallsNothingAndLeavesTheSlotAlone)
{
    std::vector<std::string> warnings;
    setWarningHandler([&](std::string_view line) { warnings.emplace_back(line); });
    MSHookMessageEx(nullptr, sel("legs"), &moreLegs, &s_savedLegs);
    MSHookMessageEx(getClass("Bird"), sel("wings"), &moreLegs, &s_savedLegs);
    MSHookMessageEx(getClass("Bird"), Selector(), &moreLegs, &s_savedLegs);
    MSHookMessageEx(getClass("Bird"), sel("legs"), static_cast<int64_t (*)(Object*, Selector)>(nullptr), &s_savedLegs);
    setWarningHandler(nullptr);

    EXPECT_FALSE(s_savedLegs.isSet());
    EXPECT_EQ(warnings.size(), 4u);
    auto journal = hookJournal();
    ASSERT_EQ(journal.size(), 4u);
    EXPECT_EQ(journal[0].className, "(nil)");
    for (auto& record : journal)
        EXPECT_EQ(record.outcome, HookOutcome::Skipped);
    EXPECT_EQ(journal[1].reason, "selector not found");

    // Installation goes on with the next hook.
    MSHookMessageEx(getClass("Bird"), sel("legs"), &moreLegs, &s_savedLegs);
    EXPECT_EQ(send<int64_t>(allocInit(getClass("Bird")), "legs"), 12);
}

TEST_F(HookTest, HookingTwiceChainsTheReplacements)
{
    MSHookMessageEx(getClass("Bird"), sel("legs"), &moreLegs, &s_savedLegs);
    MSHookMessageEx(getClass("Bird"), sel("legs"), &evenMoreLegs, &s_savedLegsAgain);
    EXPECT_EQ(send<int64_t>(allocInit(getClass("Bird")), "legs"), 112);
}

TEST_F(HookTest, TheJournalRecordsEveryCallInOrder)
{
    MSHookMessageEx(getClass("Bird"), sel("legs"), &moreLegs, &s_savedLegs);
    MSHookMessageEx(getClass("Nope"), sel("legs"), &moreLegs, &s_savedLegsAgain);
    MSHookMessageEx(getClass("Bird"), sel("sound"), &birdSound, &s_savedBirdSound);
    auto journal = hookJournal();
    ASSERT_EQ(journal.size(), 3u);
    EXPECT_EQ(journal[0].selector, "legs");
    EXPECT_EQ(journal[0].outcome, HookOutcome::Replaced);
    EXPECT_EQ(journal[1].outcome, HookOutcome::Skipped);
    EXPECT_EQ(journal[2].selector, "sound");
}

// A replacement of another type is skipped like a missing selector, on an own method and on
// an inherited one; only a message sent with the wrong type stays a loud error.
TEST_F(HookTest, AReplacementOfTheWrongTypeIsSkippedWithAWarningAndInstallationGoesOn)
{
    std::vector<std::string> warnings;
    setWarningHandler([&](std::string_view line) { warnings.emplace_back(line); });
    SavedImplementation<bool()> savedWrong;
    EXPECT_NO_THROW(MSHookMessageEx(getClass("Bird"), sel("legs"), &wrongType, &savedWrong));
    EXPECT_NO_THROW(MSHookMessageEx(getClass("Bird"), sel("sound"), &wrongType, &savedWrong));
    MSHookMessageEx(getClass("Bird"), sel("legs"), &moreLegs, &s_savedLegs);
    setWarningHandler(nullptr);

    EXPECT_FALSE(savedWrong.isSet()) << "the slot is left as it was";
    auto bird = allocInit(getClass("Bird"));
    EXPECT_EQ(send<int64_t>(bird, "legs"), 12) << "the next hook went in on the untouched method";
    EXPECT_EQ(text(send<RefPtr<Object>>(bird, "sound")), "...") << "no override was added";
    auto journal = hookJournal();
    ASSERT_EQ(journal.size(), 3u);
    for (size_t index : { 0u, 1u }) {
        EXPECT_EQ(journal[index].outcome, HookOutcome::Skipped);
        EXPECT_TRUE(journal[index].reason.starts_with("replacement has another signature")) << journal[index].reason;
    }
    EXPECT_NE(journal[0].reason.find("bool"), std::string::npos) << journal[0].reason;
    EXPECT_EQ(journal[2].outcome, HookOutcome::Replaced);
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_NE(warnings[0].find("not hooking Bird legs"), std::string::npos) << warnings[0];

    EXPECT_THROW(send<bool>(bird, "legs"), SignatureMismatch);
}

} // namespace
