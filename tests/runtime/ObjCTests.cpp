#include "runtime/CxxClass.h"
#include "runtime/ObjC.h"

#include <gtest/gtest.h>
#include <string>

using namespace ObjC;

namespace {

struct Counter {
    long long value { 7 };
    static inline int s_live = 0;
    Counter() { ++s_live; }
    ~Counter() { --s_live; }
    long long count() const { return value; }
    void add(long long amount) { value += amount; }
    bool isEven() const { return value % 2 == 0; }
    double half() const { return value / 2.0; }
    RetainPtr name() const { return adopt(send<id>(string("counter"), sel("copy"))); }
};

struct LabelledCounter {
    std::string label { "labelled" };
    const char* text() const { return label.c_str(); }
};

Class counterClass()
{
    static Class cls = [] {
        return CxxClass<Counter>::define("KSTTestCounter", getClass("NSObject"))
            .method<&Counter::count>("count")
            .method<&Counter::add>("add:")
            .method<&Counter::isEven>("isEven")
            .method<&Counter::half>("half")
            .method<&Counter::name>("name")
            .ivar<id>("_owner")
            .registerClass();
    }();
    return cls;
}

Class labelledCounterClass()
{
    static Class cls = [] {
        return CxxClass<LabelledCounter>::define("KSTTestLabelledCounter", counterClass())
            .method<&LabelledCounter::text>("text")
            .registerClass();
    }();
    return cls;
}

TEST(ObjCRuntime, ClassesAndSelectorsAreFoundByName)
{
    EXPECT_EQ(getClass("NSObject"), classFromString("NSObject"));
    EXPECT_EQ(getClass("NoSuchClassAnywhere"), nullptr);
    EXPECT_EQ(classFromString("NoSuchClassAnywhere"), nullptr);
    EXPECT_EQ(sel("count"), sel("count"));
    EXPECT_STREQ(selectorName(sel("hitTest:withEvent:")), "hitTest:withEvent:");
}

TEST(ObjCRuntime, SendsReachMethodsWithTheirArgumentsAndResults)
{
    RetainPtr counter = allocInit(counterClass());
    EXPECT_EQ(send<long long>(counter, sel("count")), 7);
    send(counter, sel("add:"), 5LL);
    EXPECT_EQ(send<long long>(counter, sel("count")), 12);
    EXPECT_TRUE(send<bool>(counter, sel("isEven")));
    EXPECT_DOUBLE_EQ(send<double>(counter, sel("half")), 6.0);
    EXPECT_TRUE(isEqualToString(send<id>(counter, sel("name")), "counter"));

    // Foundation's own classes answer through the same sends.
    id array = send<id>(getClass("NSArray"), sel("arrayWithObject:"), string("one"));
    EXPECT_EQ(send<unsigned long>(array, sel("count")), 1u);
    EXPECT_STREQ(utf8(send<id>(array, sel("objectAtIndex:"), 0UL)), "one");
}

TEST(ObjCRuntime, ASendToNilYieldsTheZeroValueOfEveryResultType)
{
    id none = nullptr;
    EXPECT_EQ(send<id>(none, sel("copy")), nullptr);
    EXPECT_FALSE(send<bool>(none, sel("boolValue")));
    EXPECT_EQ(send<long long>(none, sel("longLongValue")), 0);
    // GCC's nil method leaves these registers as they were.
    EXPECT_EQ(send<double>(none, sel("doubleValue")), 0.0);
    EXPECT_EQ(send<float>(none, sel("floatValue")), 0.0f);
    struct Pair {
        double x, y;
    };
    static_assert(sizeof(Pair) == 16);
    send(none, sel("release"));
}

TEST(ObjCRuntime, AnUnknownSelectorRaisesAndCxxCatchesIt)
{
    RetainPtr counter = allocInit(counterClass());
    bool caught = false;
    try {
        send(counter, sel("noSuchMethod"));
    } catch (...) {
        caught = true;
    }
    EXPECT_TRUE(caught);
}

TEST(ObjCRuntime, EncodingsAreComparedWithoutOffsetsOrQualifiers)
{
    const char* parts[] = { "C", "@", ":", "@", "f" };
    EXPECT_TRUE(Detail::encodingMatches("C28@0:8@16f24", parts, 5));
    EXPECT_TRUE(Detail::encodingMatches("C@:@f", parts, 5));
    EXPECT_TRUE(Detail::encodingMatches("rC28@0:8n@16f24", parts, 5));
    EXPECT_FALSE(Detail::encodingMatches("C28@0:8@16d24", parts, 5));
    EXPECT_FALSE(Detail::encodingMatches("C28@0:8@16", parts, 5));
    EXPECT_FALSE(Detail::encodingMatches("C28@0:8@16f24i28", parts, 5));
    const char* longs[] = { "q", "@", ":" };
    EXPECT_TRUE(Detail::encodingMatches("l16@0:8", longs, 3)) << "long is q or l, both 64 bits";
    const char* point[] = { "{CGPoint=d}" };
    EXPECT_FALSE(Detail::encodingMatches("{CGPoint=dd}", point, 1));
    // GNUstep's -initWithBytes:length:encoding: takes a const void*.
    const char* bytes[] = { "@", "@", ":", "^v", "Q", "I" };
    EXPECT_TRUE(Detail::encodingMatches("@36@0:8^rv16Q24I32", bytes, 6));
    EXPECT_FALSE(Detail::encodingMatches("@36@0:8^ri16Q24I32", bytes, 6));
    const char* constChars[] = { "^v", "@", ":", "*" };
    EXPECT_TRUE(Detail::encodingMatches("^rv16@0:8r*", constChars, 4)) << "a qualifier of the result and of the argument";
}

#if KESTREL_CHECKED_SENDS
TEST(ObjCRuntimeDeathTest, ASendWhoseTypesDisagreeWithTheMethodStopsTheProcess)
{
    RetainPtr counter = allocInit(counterClass());
    EXPECT_DEATH(send<double>(counter, sel("count")), "count on KSTTestCounter: the C\\+\\+ types");
    EXPECT_DEATH(send(counter, sel("add:"), 1.5), "add:");
}
#endif

TEST(ObjCRuntime, CxxStateLivesAndDiesWithItsInstanceAndSubclassesKeepBoth)
{
    int before = Counter::s_live;
    {
        RetainPtr labelled = allocInit(labelledCounterClass());
        EXPECT_EQ(Counter::s_live, before + 1);
        EXPECT_STREQ(send<const char*>(labelled, sel("text")), "labelled");
        EXPECT_EQ(send<long long>(labelled, sel("count")), 7) << "the superclass's state is there too";
        EXPECT_EQ(selfOf(CxxClass<Counter>::state(labelled)), labelled.get());
    }
    EXPECT_EQ(Counter::s_live, before);
}

TEST(ObjCRuntime, InstanceVariablesAreFoundByNameOnTheClassChain)
{
    RetainPtr labelled = allocInit(labelledCounterClass());
    Ivar owner = instanceVariable(labelledCounterClass(), "_owner");
    ASSERT_NE(owner, nullptr);
    EXPECT_EQ(instanceVariable(labelledCounterClass(), "_nobody"), nullptr);
    EXPECT_EQ(objectIvar(labelled, owner), nullptr);
    id text = string("me");
    *ivarAddress<id>(labelled, owner) = text;
    EXPECT_EQ(objectIvar(labelled, "_owner"), text);
    EXPECT_EQ(objectIvar(labelled, "_nobody"), nullptr);
    EXPECT_EQ(objectIvar(nullptr, owner), nullptr);
    *ivarAddress<id>(labelled, owner) = nullptr;
}

TEST(ObjCRuntime, OwningPointersRetainAndReleaseAndWeakOnesZero)
{
    WeakPtr weak;
    {
        RetainPtr object = allocInit(counterClass());
        EXPECT_EQ(send<unsigned long>(object, sel("retainCount")), 1u);
        RetainPtr second = object;
        EXPECT_EQ(send<unsigned long>(object, sel("retainCount")), 2u);
        weak = WeakPtr(object);
        WeakPtr copy = weak;
        EXPECT_EQ(copy.get().get(), object.get());
        EXPECT_EQ(weak.get().get(), object.get());
    }
    EXPECT_EQ(weak.get().get(), nullptr) << "the object has gone: the weak pointer reads nil";

    // A subclass with a dealloc of its own still zeroes its weak references.
    WeakPtr array;
    {
        RetainPtr object = adopt(send<id>(send<id>(getClass("NSMutableArray"), sel("alloc")), sel("init")));
        array = WeakPtr(object);
        EXPECT_TRUE(array.get());
    }
    EXPECT_FALSE(array.get());
}

} // namespace
