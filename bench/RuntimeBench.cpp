// The cost of a runtime message next to what it stands in for: a send against a C++ virtual
// call, and a hooked send against an unhooked one plus the one direct call a hook adds.
#include "runtime/Runtime.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <memory>

using namespace Runtime;

namespace {

class Counter : public NSObject {
public:
    int64_t value() const { return m_value; }
    int64_t add(int64_t amount) { return m_value += amount; }
    RefPtr<Object> itself() { return RefPtr<Object>(this); }

private:
    int64_t m_value { 1 };
};

SavedImplementation<int64_t()> s_savedValue;
SavedImplementation<int64_t(int64_t)> s_savedAdd;

int64_t hookedValue(Object* self, Selector selector) { return s_savedValue(self, selector); }
int64_t hookedAdd(Object* self, Selector selector, int64_t amount) { return s_savedAdd(self, selector, amount); }

// What a hook adds to a send: one more call of a function the compiler cannot see into.
[[gnu::noinline]] int64_t directCall(int64_t value)
{
    benchmark::ClobberMemory();
    return value;
}

struct VirtualBase {
    virtual ~VirtualBase() = default;
    virtual int64_t value() const = 0;
    virtual int64_t add(int64_t amount) = 0;
};

struct VirtualCounter : VirtualBase {
    int64_t value() const override { return m_value; }
    int64_t add(int64_t amount) override { return m_value += amount; }
    int64_t m_value { 1 };
};

struct OtherVirtualCounter : VirtualBase {
    int64_t value() const override { return -m_value; }
    int64_t add(int64_t amount) override { return m_value -= amount; }
    int64_t m_value { 1 };
};

// An object whose class the compiler cannot know, as at a call site that deserves a
// virtual call: the call is not devirtualised or inlined.
[[gnu::noipa]] VirtualBase* makeVirtualCounter(bool other)
{
    if (other)
        return new OtherVirtualCounter;
    return new VirtualCounter;
}

struct Fixture {
    Fixture()
    {
        ClassBuilder<Counter>("BenchCounter", "NSObject")
            .method<&Counter::value>("value")
            .method<&Counter::add>("add:")
            .method<&Counter::itself>("itself");
        // The same class again under another name, hooked.
        ClassBuilder<Counter>("BenchHookedCounter", "NSObject")
            .method<&Counter::value>("value")
            .method<&Counter::add>("add:");
        MSHookMessageEx(getClass("BenchHookedCounter"), sel("value"), &hookedValue, &s_savedValue);
        MSHookMessageEx(getClass("BenchHookedCounter"), sel("add:"), &hookedAdd, &s_savedAdd);
        plain = allocInit(getClass("BenchCounter"));
        hooked = allocInit(getClass("BenchHookedCounter"));
    }

    RefPtr<Object> plain;
    RefPtr<Object> hooked;
    const Selector value = sel("value");
    const Selector add = sel("add:");
    const Selector itself = sel("itself");
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

void runtimeSend(benchmark::State& state)
{
    Object* object = fixture().plain.get();
    Selector selector = fixture().value;
    for (auto _ : state) {
        benchmark::DoNotOptimize(object);
        benchmark::DoNotOptimize(send<int64_t>(object, selector));
    }
}

void virtualCallWithArgument(benchmark::State& state)
{
    std::unique_ptr<VirtualBase> object(makeVirtualCounter(false));
    VirtualBase* pointer = object.get();
    for (auto _ : state) {
        benchmark::DoNotOptimize(pointer);
        benchmark::DoNotOptimize(pointer->add(1));
    }
}

void sendWithArgument(benchmark::State& state)
{
    Object* object = fixture().plain.get();
    Selector selector = fixture().add;
    for (auto _ : state) {
        benchmark::DoNotOptimize(object);
        benchmark::DoNotOptimize(send<int64_t>(object, selector, int64_t(1)));
    }
}

// An object result: the reference count goes up and down once.
void sendReturningObject(benchmark::State& state)
{
    Object* object = fixture().plain.get();
    Selector selector = fixture().itself;
    for (auto _ : state) {
        benchmark::DoNotOptimize(object);
        benchmark::DoNotOptimize(send<RefPtr<Object>>(object, selector).get());
    }
}

void sendByName(benchmark::State& state)
{
    Object* object = fixture().plain.get();
    for (auto _ : state) {
        benchmark::DoNotOptimize(object);
        benchmark::DoNotOptimize(send<int64_t>(object, "value"));
    }
}

void unhookedSendPlusDirectCall(benchmark::State& state)
{
    Object* object = fixture().plain.get();
    Selector selector = fixture().value;
    for (auto _ : state) {
        benchmark::DoNotOptimize(object);
        benchmark::DoNotOptimize(directCall(send<int64_t>(object, selector)));
    }
}

void hookedSend(benchmark::State& state)
{
    Object* object = fixture().hooked.get();
    Selector selector = fixture().value;
    for (auto _ : state) {
        benchmark::DoNotOptimize(object);
        benchmark::DoNotOptimize(send<int64_t>(object, selector));
    }
}

void unhookedSendWithArgumentPlusDirectCall(benchmark::State& state)
{
    Object* object = fixture().plain.get();
    Selector selector = fixture().add;
    for (auto _ : state) {
        benchmark::DoNotOptimize(object);
        benchmark::DoNotOptimize(directCall(send<int64_t>(object, selector, int64_t(1))));
    }
}

void hookedSendWithArgument(benchmark::State& state)
{
    Object* object = fixture().hooked.get();
    Selector selector = fixture().add;
    for (auto _ : state) {
        benchmark::DoNotOptimize(object);
        benchmark::DoNotOptimize(send<int64_t>(object, selector, int64_t(1)));
    }
}

// On a shared machine the fastest repetition is the one least disturbed by others.
double fastest(const std::vector<double>& values) { return *std::min_element(values.begin(), values.end()); }

} // namespace

BENCHMARK(virtualCall)->ComputeStatistics("min", fastest);
BENCHMARK(runtimeSend)->ComputeStatistics("min", fastest);
BENCHMARK(virtualCallWithArgument)->ComputeStatistics("min", fastest);
BENCHMARK(sendWithArgument)->ComputeStatistics("min", fastest);
BENCHMARK(sendReturningObject)->ComputeStatistics("min", fastest);
BENCHMARK(sendByName)->ComputeStatistics("min", fastest);
BENCHMARK(unhookedSendPlusDirectCall)->ComputeStatistics("min", fastest);
BENCHMARK(hookedSend)->ComputeStatistics("min", fastest);
BENCHMARK(unhookedSendWithArgumentPlusDirectCall)->ComputeStatistics("min", fastest);
BENCHMARK(hookedSendWithArgument)->ComputeStatistics("min", fastest);

BENCHMARK_MAIN();
