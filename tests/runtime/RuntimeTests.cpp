#include "runtime/Runtime.h"
#include "runtime/RuntimeTesting.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

using namespace Runtime;

namespace {

struct Rect {
    double x, y, width, height;
};

class Counter : public NSObject {
public:
    int64_t value() const { return m_value; }
    void setValue(int64_t value) { m_value = value; }
    bool isPositive() const { return m_value > 0; }
    float half() const { return float(m_value) / 2; }
    Rect frame() const { return { 1, 2, 3, 4 }; }
    RefPtr<Object> friendObject() const { return m_friend; }
    void setFriend(Object* other) { m_friend = other; }
    static RefPtr<Object> shared(Class* cls)
    {
        static RefPtr<Object> instance;
        if (!instance || objectGetClass(instance.get()) != cls)
            instance = allocInit(cls);
        return instance;
    }

    int64_t m_value { 0 };
    RefPtr<Object> m_friend;
    bool m_flag { false };
};

class RuntimeTest : public testing::Test {
protected:
    void SetUp() override
    {
        resetRegistryForTesting();
        ClassBuilder<Counter>("Counter", "NSObject")
            .method<&Counter::value>("value")
            .method<&Counter::setValue>("setValue:")
            .method<&Counter::isPositive>("isPositive")
            .method<&Counter::half>("half")
            .method<&Counter::frame>("frame")
            .method<&Counter::friendObject>("friend")
            .method<&Counter::setFriend>("setFriend:")
            .classMethod<&Counter::shared>("shared")
            .ivar<&Counter::m_friend>("_friend")
            .ivar<&Counter::m_flag>("_flag");
    }
};

TEST_F(RuntimeTest, ClassesAreFoundByNameAndUnknownNamesAreNil)
{
    ASSERT_NE(getClass("Counter"), nullptr);
    EXPECT_EQ(getClass("Counter"), classFromString("Counter"));
    EXPECT_EQ(getClass("Counter")->superclass(), getClass("NSObject"));
    EXPECT_EQ(getClass("NoSuchClass"), nullptr);
    EXPECT_EQ(classFromString(""), nullptr);
    EXPECT_THROW(ClassBuilder<Counter>("Counter", "NSObject"), std::logic_error) << "a name is registered once";
}

TEST_F(RuntimeTest, MessagesReachTheMethodWithTheirArguments)
{
    auto counter = allocInit(getClass("Counter"));
    send(counter, "setValue:", int64_t(7));
    EXPECT_EQ(send<int64_t>(counter, "value"), 7);
    EXPECT_TRUE(send<bool>(counter, "isPositive"));
    EXPECT_FLOAT_EQ(send<float>(counter, "half"), 3.5f);
    EXPECT_EQ(send<Rect>(counter, "frame").height, 4);
    EXPECT_EQ(objectGetClass(counter.get()), getClass("Counter"));
}

TEST_F(RuntimeTest, MessagingNilYieldsTheZeroValueOfEveryResultKind)
{
    Object* nothing = nullptr;
    EXPECT_EQ(send<RefPtr<Object>>(nothing, "friend"), nullptr);
    EXPECT_FALSE(send<bool>(nothing, "isPositive"));
    EXPECT_EQ(send<int64_t>(nothing, "value"), 0);
    EXPECT_EQ(send<float>(nothing, "half"), 0.0f);
    Rect frame = send<Rect>(nothing, "frame");
    EXPECT_EQ(frame.x + frame.y + frame.width + frame.height, 0);
    EXPECT_NO_THROW(send(nothing, "noSuchSelector:", 1, 2.0)) << "nil swallows even unknown selectors";
}

TEST_F(RuntimeTest, AnUnknownSelectorRaisesNSException)
{
    auto counter = allocInit(getClass("Counter"));
    try {
        send(counter, "launchRockets");
        FAIL() << "no exception";
    } catch (const NSException& exception) {
        EXPECT_EQ(exception.name(), "NSInvalidArgumentException");
        EXPECT_NE(exception.reason().find("-[Counter launchRockets]: unrecognized selector sent to instance"), std::string::npos);
    }
    EXPECT_THROW(send(getClass("Counter"), "launchRockets"), NSException) << "classes too";
}

TEST_F(RuntimeTest, ASignatureMismatchFailsLoudly)
{
    auto counter = allocInit(getClass("Counter"));
    EXPECT_THROW(send(counter, "setValue:", 7), SignatureMismatch) << "int is not int64_t";
    EXPECT_THROW(send<double>(counter, "half"), SignatureMismatch) << "double is not float";
    EXPECT_THROW(send<bool>(counter, "setValue:", int64_t(1)), SignatureMismatch) << "void is not BOOL";
    EXPECT_EQ(send<int64_t>(counter, "value"), 0) << "nothing ran";
}

TEST_F(RuntimeTest, ObjectResultsAreCheckedWhenASubclassIsAskedFor)
{
    auto counter = allocInit(getClass("Counter"));
    send(counter, "setFriend:", NSString::create("pal"));
    EXPECT_EQ(stringValue(send<RefPtr<NSString>>(counter, "friend").get()), "pal");
    EXPECT_THROW(send<RefPtr<NSArray>>(counter, "friend"), SignatureMismatch);
}

TEST_F(RuntimeTest, ClassMethodsLiveOnTheMetaclassAndRootMethodsServeClasses)
{
    Class* cls = getClass("Counter");
    auto shared = send<RefPtr<Object>>(cls, "shared");
    EXPECT_EQ(shared, send<RefPtr<Object>>(cls, "shared"));
    EXPECT_TRUE(respondsToSelector(cls, sel("shared")));
    EXPECT_FALSE(respondsToSelector(shared.get(), sel("shared")));
    EXPECT_TRUE(send<bool>(cls, "respondsToSelector:", sel("alloc")));
    EXPECT_TRUE(send<bool>(shared, "respondsToSelector:", sel("setValue:")));
    EXPECT_FALSE(send<bool>(shared, "respondsToSelector:", sel("notificationPriorityList")));
}

TEST_F(RuntimeTest, InstanceVariablesAreFoundByNameOnTheClassChain)
{
    ClassBuilder<Counter>("SubCounter", "Counter");
    auto sub = allocInit(getClass("SubCounter"));
    const Ivar* ivar = classGetInstanceVariable(objectGetClass(sub.get()), "_friend");
    ASSERT_NE(ivar, nullptr) << "inherited ivars are found";
    EXPECT_EQ(classGetInstanceVariable(getClass("Counter"), "_masterList"), nullptr);
    EXPECT_EQ(classGetInstanceVariable(nullptr, "_friend"), nullptr);

    EXPECT_EQ(objectGetIvar(sub.get(), ivar), nullptr);
    auto pal = NSString::create("pal");
    objectSetIvar(sub.get(), ivar, pal.ptr());
    EXPECT_EQ(objectGetIvar(sub.get(), ivar), RefPtr<Object>(pal.ptr()));
    EXPECT_EQ(objectGetIvar(nullptr, ivar), nullptr);

    const Ivar* flag = classGetInstanceVariable(getClass("Counter"), "_flag");
    EXPECT_THROW(objectGetIvar(sub.get(), flag), SignatureMismatch) << "not an object ivar";
    EXPECT_THROW(objectGetIvar(pal.ptr(), ivar), SignatureMismatch) << "an ivar of another class";
    *ivarAddress<bool>(sub.get(), flag) = true;
    EXPECT_TRUE(static_cast<Counter*>(sub.get())->m_flag);
}

TEST_F(RuntimeTest, AWeakPointerReadsNilOnceTheObjectIsGone)
{
    WeakPtr<Object> weak;
    {
        auto counter = allocInit(getClass("Counter"));
        weak = WeakPtr<Object>(counter.get());
        EXPECT_EQ(weak.get(), counter);
        EXPECT_TRUE(bool(weak));
    }
    EXPECT_EQ(weak.get(), nullptr);
    EXPECT_FALSE(bool(weak));
}

TEST_F(RuntimeTest, ObjectsAreFreedWhenTheLastReferenceGoes)
{
    static int destroyed = 0;
    struct Tracked : NSObject {
        ~Tracked() override { ++destroyed; }
    };
    ClassBuilder<Tracked>("Tracked", "NSObject");
    destroyed = 0;
    {
        auto a = allocInit(getClass("Tracked"));
        RefPtr<Object> b = a;
        auto array = NSArray::create({ a, b });
        a = nullptr;
        b = nullptr;
        EXPECT_EQ(destroyed, 0);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST_F(RuntimeTest, FoundationBasics)
{
    auto path = NSString::create("/System/Library/CoreServices/SpringBoard.app/SpringBoard");
    EXPECT_EQ(stringValue(send<RefPtr<Object>>(path, "lastPathComponent").get()), "SpringBoard");
    EXPECT_EQ(NSString::create("/a/b//")->lastPathComponent()->string(), "b");
    EXPECT_EQ(NSString::create("/")->lastPathComponent()->string(), "/");
    EXPECT_EQ(NSString::create("")->lastPathComponent()->string(), "");
    EXPECT_TRUE(send<bool>(path, "isEqualToString:", NSString::create(path->string())));
    EXPECT_FALSE(send<bool>(path, "isEqualToString:", nullptr));

    auto array = NSArray::create({ NSString::create("a"), nullptr });
    EXPECT_EQ(send<uint64_t>(array, "count"), 2u);
    EXPECT_EQ(send<RefPtr<Object>>(array, "copy"), RefPtr<Object>(array.ptr()));
    EXPECT_THROW(send<RefPtr<Object>>(array, "objectAtIndex:", uint64_t(2)), NSException);
}

TEST_F(RuntimeTest, ResetForgetsTestClassesButKeepsFoundation)
{
    resetRegistryForTesting();
    EXPECT_EQ(getClass("Counter"), nullptr);
    ASSERT_NE(getClass("NSString"), nullptr);
    EXPECT_EQ(NSString::runtimeClass(), getClass("NSString")) << "cached references follow the reset";
    EXPECT_EQ(stringValue(NSString::create("x").ptr()), "x");
}

TEST(RuntimeModules, AnExceptionSubclassFromALoadedModuleIsCaughtAsNSException)
{
    void* module = dlopen(KESTREL_TEST_MODULE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    auto raise = reinterpret_cast<void (*)()>(dlsym(module, "raiseModuleException"));
    ASSERT_NE(raise, nullptr);
    try {
        raise();
        FAIL() << "nothing raised";
    } catch (const NSException& exception) {
        EXPECT_EQ(exception.name(), "ModuleException");
        EXPECT_EQ(exception.reason(), "raised inside a loaded module");
    }
    auto raiseOther = reinterpret_cast<void (*)()>(dlsym(module, "raiseOtherException"));
    bool caughtAsNSException = false;
    try {
        raiseOther();
    } catch (const NSException&) {
        caughtAsNSException = true;
    } catch (int) {
    }
    EXPECT_FALSE(caughtAsNSException) << "only NSException and its subclasses match";
    dlclose(module);
}

} // namespace
