// The engine's costs next to their floors, in the same run: a settings lookup against one
// open+fstat+read+close of the settings file, the load-time set-up with all eleven hooks, and
// a whole unlock decision against as many bare reads of the file as it makes lookups. Each
// decision runs in an autorelease pool of its own, as a turn of SpringBoard's main queue does.
#include "engine/EngineTesting.h"
#include "engine/KSTPreferencesManager.h"
#include "engine/KestrelInstall.h"
#include "engine/PloverKestrel.h"
#include "host/springboard/HostCommands.h"
#include "host/springboard/SpringBoardClasses.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/foundation/CoreFoundation.h"
#include "platform/foundation/FoundationValue.h"
#include "platform/fs/DeviceRoot.h"
#include "platform/plist/PropertyList.h"
#include "platform/process/ProcessArguments.h"
#include "platform/trace/Trace.h"
#include "runtime/Substrate.h"
#include "runtime/SubstrateJournal.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace ObjC;
using namespace SpringBoardHost;
using Platform::Plist::Dictionary;
using Platform::Plist::Value;

namespace {

constexpr const char* settingsPath = "/var/mobile/Library/Preferences/com.plover.kestrelprefs.plist";
constexpr const char* companionPath = "/Library/MobileSubstrate/DynamicLibraries/Nightjar.dylib";
constexpr const char* springBoardPath = "/System/Library/CoreServices/SpringBoard.app/SpringBoard";

id (*s_savedArguments)(id, SEL);
id springBoardArguments(id, SEL)
{
    static id const arguments = [] {
        id array = send<id>(getClass("NSMutableArray"), sel("arrayWithCapacity:"), 1ul);
        send(array, sel("addObject:"), string(springBoardPath));
        return send<id>(array, sel("copy"));
    }();
    return arguments;
}

// A throwaway device with the companion installed, made the device root for the whole run.
class BenchDevice {
public:
    BenchDevice()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-engine-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        m_root = pattern;
        Platform::setDeviceRoot(m_root);
        std::filesystem::create_directories(Platform::resolve("/var/mobile/Library/Preferences"));
        std::filesystem::create_directories(Platform::resolve("/Library/MobileSubstrate/DynamicLibraries"));
        std::filesystem::copy_file(std::string(KESTREL_BUILD_DIR) + "/lib/Nightjar.dylib",
            Platform::resolve(companionPath), std::filesystem::copy_options::overwrite_existing);
        // The process is SpringBoard, as its process info tells; made before anything loads, as
        // SpringBoard makes it.
        send<id>(getClass("NSProcessInfo"), sel("processInfo"));
        hookMessage(getClass("NSProcessInfo"), sel("arguments"), &springBoardArguments, &s_savedArguments);
    }
    ~BenchDevice()
    {
        std::error_code error;
        std::filesystem::remove_all(m_root, error);
    }

    std::string settingsHostPath() const { return Platform::resolve(settingsPath); }

private:
    std::string m_root;
};

BenchDevice& device()
{
    static BenchDevice device;
    return device;
}

Dictionary settings(std::initializer_list<std::pair<const char*, Value>> entries)
{
    Dictionary dictionary;
    for (auto& [key, value] : entries)
        dictionary.set(key, value);
    return dictionary;
}

// What the settings pane leaves after the user has been through it once, "DelayTime" untouched.
Dictionary storeSettings()
{
    return settings({ { "Enabled", Value::boolean(true) }, { "DisableIfMusic", Value::boolean(false) },
        { "DisableIfFlashlight", Value::boolean(false) }, { "DisableIfNotifications", Value::boolean(true) },
        { "AutoRetry", Value::boolean(false) }, { "RetryInterval", Value::real(1.0) },
        { "DelayBeforeUnlock", Value::boolean(false) }, { "BlockForTouch", Value::boolean(false) } });
}

// Every test switched on, so that none decides and each is read.
Dictionary decisionSettings(double delayTime)
{
    return settings({ { "Enabled", Value::boolean(true) }, { "DisableIfMusic", Value::boolean(true) },
        { "DisableIfFlashlight", Value::boolean(true) }, { "DisableIfNotifications", Value::boolean(true) },
        { "AutoRetry", Value::boolean(false) }, { "RetryInterval", Value::real(1.0) },
        { "DelayBeforeUnlock", Value::boolean(true) }, { "DelayTime", Value::real(delayTime) },
        { "BlockForTouch", Value::boolean(false) } });
}

void useSettings(const Dictionary& dictionary)
{
    if (!Platform::Plist::writeFileAtomically(device().settingsHostPath(), Value(dictionary)))
        std::abort();
}

// What any lookup must do at least: one open+fstat+read+close of the file.
size_t readFloor(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat status;
    ::fstat(fd, &status);
    auto buffer = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(status.st_size));
    auto count = ::read(fd, buffer.get(), static_cast<size_t>(status.st_size));
    ::close(fd);
    benchmark::DoNotOptimize(buffer.get());
    return static_cast<size_t>(count);
}

void floors(benchmark::State& state, const Dictionary& dictionary)
{
    useSettings(dictionary);
    std::string path = device().settingsHostPath();
    int64_t count = state.range(0);
    for (auto _ : state) {
        for (int64_t i = 0; i < count; ++i)
            benchmark::DoNotOptimize(readFloor(path));
    }
}

void floorOfTheStore(benchmark::State& state) { floors(state, storeSettings()); }

void lookupOfAStoredKey(benchmark::State& state)
{
    useSettings(storeSettings());
    for (auto _ : state) {
        AutoreleasePool pool;
        benchmark::DoNotOptimize(boolPref("Enabled"));
    }
}

void lookupOfADefaultedKey(benchmark::State& state)
{
    useSettings(storeSettings());
    for (auto _ : state) {
        AutoreleasePool pool;
        benchmark::DoNotOptimize(floatPref("DelayTime"));
    }
}

// SpringBoard's classes registered (once: a process has one profile, the structured route's)
// and the engine back to its state at load, its hooks taken out again.
void prepareProcess()
{
    kestrelResetForTesting();
    HostState::shared().resetForTesting();
    HostProfile profile;
    profile.notificationRoute = NotificationRoute::Structured;
    Platform::setSystemVersion(profile.iosVersion);
    kCFCoreFoundationVersionNumber = profile.coreFoundationVersion;
    registerSpringBoardClasses(profile);
    clearHookJournal();
}

bool elevenHooksReplaced()
{
    auto journal = hookJournal();
    size_t replaced = 0;
    for (auto& record : journal)
        replaced += record.outcome == HookOutcome::Replaced;
    return journal.size() == 11 && replaced == 11;
}

// The very first load in the process, the companion library's dlopen included: once.
void engineFirstLoad(benchmark::State& state)
{
    device();
    for (auto _ : state) {
        state.PauseTiming();
        prepareProcess();
        state.ResumeTiming();
        kestrelInstall();
    }
    if (!elevenHooksReplaced())
        state.SkipWithError("the eleven hooks were not all installed");
}

// Every later load: the companion is loaded already; the eleven hooks go in again.
void engineLoad(benchmark::State& state)
{
    device();
    for (auto _ : state) {
        state.PauseTiming();
        prepareProcess();
        state.ResumeTiming();
        kestrelInstall();
    }
    if (!elevenHooksReplaced())
        state.SkipWithError("the eleven hooks were not all installed");
}

// SpringBoard standing, with one do-not-disturb notice waiting on the structured route.
void prepareSpringBoard()
{
    device();
    Platform::resetMainQueue(Platform::ClockKind::Virtual);
    prepareProcess();
    kestrelInstall();
    createLockScreenObjects();
    auto& host = HostState::shared();
    host.notifications = { "com.apple.donotdisturb" };
    host.otherAudioPlaying = false;
}

bool faceMatch(id manager, id completion)
{
    static SEL const attempt = sel("_attemptUnlockWithPasscode:mesa:finishUIUnlock:completion:");
    AutoreleasePool pool;
    return send<bool>(manager, attempt, nullptr, true, false, completion);
}

// Unlock now after every test and every option on the way: six lookups.
void decisionUnlockNow(benchmark::State& state)
{
    prepareSpringBoard();
    useSettings(decisionSettings(2.0));
    auto& host = HostState::shared();
    RetainPtr completion = CompletionBlock::create();
    for (auto _ : state) {
        screenTouched = true;
        host.uiLocked = false;
        benchmark::DoNotOptimize(faceMatch(host.lockScreenManager, completion));
    }
    if (screenTouched)
        state.SkipWithError("the decision did not reach unlock now");
}

void floorOfUnlockNow(benchmark::State& state) { floors(state, decisionSettings(2.0)); }

// The decision report when nobody listens: a load and a branch.
void decisionReportUnheard(benchmark::State& state)
{
    Platform::setTraceHook(nullptr);
    for (auto _ : state)
        Platform::trace("decision", { { "outcome", "unlock-now" }, { "reason", "none" } });
}

// The same decision as decisionUnlockNow with a listener on the trace hook, as the simulator has.
void decisionUnlockNowHeard(benchmark::State& state)
{
    uint64_t reports = 0;
    Platform::setTraceHook([&reports](std::string_view, std::span<const Platform::TraceField>) { ++reports; });
    decisionUnlockNow(state);
    Platform::setTraceHook(nullptr);
    if (!reports)
        state.SkipWithError("the decision reported nothing");
}

// The longest path: as above, then the delay is looked up and scheduled, seven lookups. A delay
// too long for the clock is dropped by the queue, so nothing piles up.
void decisionDelayScheduled(benchmark::State& state)
{
    prepareSpringBoard();
    useSettings(decisionSettings(1e30));
    auto& host = HostState::shared();
    RetainPtr completion = CompletionBlock::create();
    for (auto _ : state) {
        screenTouched = true;
        host.uiLocked = true;
        benchmark::DoNotOptimize(faceMatch(host.lockScreenManager, completion));
    }
    if (!screenTouched || !host.uiLocked || Platform::mainQueue().pendingCount())
        state.SkipWithError("the decision did not take the delay path");
}

void floorOfDelayScheduled(benchmark::State& state) { floors(state, decisionSettings(1e30)); }

// On a shared machine the fastest repetition is the one least disturbed by others.
double fastest(const std::vector<double>& values) { return *std::min_element(values.begin(), values.end()); }

} // namespace

BENCHMARK(floorOfTheStore)->Arg(1)->ComputeStatistics("min", fastest);
BENCHMARK(lookupOfAStoredKey)->ComputeStatistics("min", fastest);
BENCHMARK(lookupOfADefaultedKey)->ComputeStatistics("min", fastest);
BENCHMARK(engineFirstLoad)->Iterations(1)->Repetitions(1);
BENCHMARK(engineLoad)->ComputeStatistics("min", fastest);
BENCHMARK(floorOfUnlockNow)->Arg(6)->ComputeStatistics("min", fastest);
BENCHMARK(decisionUnlockNow)->ComputeStatistics("min", fastest);
BENCHMARK(floorOfDelayScheduled)->Arg(7)->ComputeStatistics("min", fastest);
BENCHMARK(decisionReportUnheard)->ComputeStatistics("min", fastest);
BENCHMARK(decisionUnlockNowHeard)->ComputeStatistics("min", fastest);
BENCHMARK(decisionDelayScheduled)->ComputeStatistics("min", fastest);

int main(int argc, char** argv)
{
    AutoreleasePool pool;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
