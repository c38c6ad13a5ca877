// The cost of a message on the device's runtime: a send through the typed header against
// the same lookup and call written by hand, a cached implementation and a C++ virtual call;
// and a hooked send against an unhooked one plus the one direct call a hook adds.
#include "runtime/ClassDefinition.h"
#include "runtime/ObjC.h"
#include "runtime/Substrate.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <memory>
#include <vector>

using namespace ObjC;

namespace {

long long s_value = 1;
long long counterValue(id, SEL) { return s_value; }
long long counterAdd(id, SEL, long long amount) { return s_value += amount; }
id counterItself(id self, SEL) { return self; }

long long (*s_savedValue)(id, SEL);
long long (*s_savedAdd)(id, SEL, long long);
long long hookedValue(id self, SEL selector) { return s_savedValue(self, selector); }
long long hookedAdd(id self, SEL selector, long long amount) { return s_savedAdd(self, selector, amount); }

// What a hook adds to a send: one more call of a function the compiler cannot see into.
[[gnu::noinline]] long long directCall(long long value)
{
    benchmark::ClobberMemory();
    return value;
}

struct VirtualBase {
    virtual ~VirtualBase() = default;
    virtual long long value() const = 0;
};
struct VirtualCounter : VirtualBase {
    long long value() const override { return m_value; }
    long long m_value { 1 };
};
struct OtherVirtualCounter : VirtualBase {
    long long value() const override { return -m_value; }
    long long m_value { 1 };
};
// An object whose class the compiler cannot know: the call is not devirtualised.
[[gnu::noipa]] VirtualBase* makeVirtualCounter(bool other)
{
    if (other)
        return new OtherVirtualCounter;
    return new VirtualCounter;
}

Class defineCounter(const char* name)
{
    ClassDefinition definition(name, getClass("NSObject"));
    definition.method("value", &counterValue).method("add:", &counterAdd).method("itself", &counterItself);
    return definition.registerClass();
}

struct Fixture {
    Fixture()
    {
        Class plainClass = defineCounter("BenchCounter");
        Class hookedClass = defineCounter("BenchHookedCounter");
        hookMessage(hookedClass, sel("value"), &hookedValue, &s_savedValue);
        hookMessage(hookedClass, sel("add:"), &hookedAdd, &s_savedAdd);
        plain = allocInit(plainClass);
        hooked = allocInit(hookedClass);
    }
    AutoreleasePool pool;
    RetainPtr plain;
    RetainPtr hooked;
    SEL const value = sel("value");
    SEL const add = sel("add:");
    SEL const itself = sel("itself");
};

Fixture& fixture()
{
    static Fixture fixture;
    return fixture;
}

void virtualCall(benchmark::State& state)
{
    std::unique_ptr<VirtualBase> object(makeVirtualCounter(false));
    VirtualBase* pointer = object.get();
    for (auto _ : state) {
        benchmark::DoNotOptimize(pointer);
        benchmark::DoNotOptimize(pointer->value());
    }
}

void sendThroughHeader(benchmark::State& state)
{
    id object = fixture().plain;
    SEL selector = fixture().value;
    for (auto _ : state) {
        benchmark::DoNotOptimize(object);
        benchmark::DoNotOptimize(send<long long>(object, selector));
    }
}

// The header's send, written out: the runtime's lookup, then the call through the exact type.
void lookupAndCallByHand(benchmark::State& state)
{
    id object = fixture().plain;
    SEL selector = fixture().value;
    using Function = long long (*)(id, SEL);
    for (auto _ : state) {
        benchmark::DoNotOptimize(object);
        auto function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(objc_msg_lookup(object, selector)));
        benchmark::DoNotOptimize(function(object, selector));
    }
}

void cachedImplementation(benchmark::State& state)
{
    id object = fixture().plain;
    SEL selector = fixture().value;
    using Function = long long (*)(id, SEL);
    auto function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(objc_msg_lookup(object, selector)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(object);
        benchmark::DoNotOptimize(function(object, selector));
    }
}

void sendWithArgument(benchmark::State& state)
{
    id object = fixture().plain;
    SEL selector = fixture().add;
    for (auto _ : state) {
        benchmark::DoNotOptimize(object);
        benchmark::DoNotOptimize(send<long long>(object, selector, 1LL));
    }
}

void sendReturningObject(benchmark::State& state)
{
    id object = fixture().plain;
    SEL selector = fixture().itself;
    for (auto _ : state) {
        benchmark::DoNotOptimize(object);
        benchmark::DoNotOptimize(send<id>(object, selector));
    }
}

void sendToNilReturningDouble(benchmark::State& state)
{
    id object = nullptr;
    SEL selector = fixture().value;
    for (auto _ : state) {
        benchmark::DoNotOptimize(object);
        benchmark::DoNotOptimize(send<double>(object, selector));
    }
}

void sendBySelectorName(benchmark::State& state)
{
    id object = fixture().plain;
    for (auto _ : state) {
        benchmark::DoNotOptimize(object);
        benchmark::DoNotOptimize(send<long long>(object, sel("value")));
    }
}

void unhookedSendPlusDirectCall(benchmark::State& state)
{
    id object = fixture().plain;
    SEL selector = fixture().value;
    for (auto _ : state) {
        benchmark::DoNotOptimize(object);
        benchmark::DoNotOptimize(directCall(send<long long>(object, selector)));
    }
}

void hookedSend(benchmark::State& state)
{
    id object = fixture().hooked;
    SEL selector = fixture().value;
    for (auto _ : state) {
        benchmark::DoNotOptimize(object);
        benchmark::DoNotOptimize(send<long long>(object, selector));
    }
}

void hookedSendWithArgument(benchmark::State& state)
{
    id object = fixture().hooked;
    SEL selector = fixture().add;
    for (auto _ : state) {
        benchmark::DoNotOptimize(object);
        benchmark::DoNotOptimize(send<long long>(object, selector, 1LL));
    }
}

// On a shared machine the fastest repetition is the one least disturbed by others.
double fastest(const std::vector<double>& values) { return *std::min_element(values.begin(), values.end()); }

} // namespace

BENCHMARK(virtualCall)->ComputeStatistics("min", fastest);
BENCHMARK(sendThroughHeader)->ComputeStatistics("min", fastest);
BENCHMARK(lookupAndCallByHand)->ComputeStatistics("min", fastest);
BENCHMARK(cachedImplementation)->ComputeStatistics("min", fastest);
BENCHMARK(sendWithArgument)->ComputeStatistics("min", fastest);
BENCHMARK(sendReturningObject)->ComputeStatistics("min", fastest);
BENCHMARK(sendToNilReturningDouble)->ComputeStatistics("min", fastest);
BENCHMARK(sendBySelectorName)->ComputeStatistics("min", fastest);
BENCHMARK(unhookedSendPlusDirectCall)->ComputeStatistics("min", fastest);
BENCHMARK(hookedSend)->ComputeStatistics("min", fastest);
BENCHMARK(hookedSendWithArgument)->ComputeStatistics("min", fastest);

BENCHMARK_MAIN();
