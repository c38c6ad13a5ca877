#include "EngineTestSupport.h"

#include "engine/EngineTesting.h"
#include "engine/KestrelInstall.h"
#include "host/springboard/HostCommands.h"
#include "host/springboard/SpringBoardClasses.h"
#include "platform/foundation/CoreFoundation.h"
#include "platform/foundation/FoundationValue.h"
#include "platform/fs/DeviceRoot.h"
#include "platform/log/SystemLog.h"
#include "platform/plist/PropertyListWriter.h"
#include "platform/process/ProcessArguments.h"
#include "platform/process/ProcessArgumentsTesting.h"
#include "platform/trace/Timeline.h"
#include "runtime/Substrate.h"
#include "runtime/SubstrateJournal.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ObjC;
using namespace SpringBoardHost;

namespace EngineTesting {

namespace {

// The process's arguments as its process info answers them: the platform's list, which a
// test sets, in place of the test program's own.
id processArguments(id, SEL)
{
    static SEL const arrayWithCapacity = ObjC::sel("arrayWithCapacity:");
    static SEL const addObject = ObjC::sel("addObject:");
    auto arguments = Platform::processArguments();
    id array = send<id>(getClass("NSMutableArray"), arrayWithCapacity, static_cast<unsigned long>(arguments.size()));
    for (auto& argument : arguments)
        send(array, addObject, Platform::makeString(argument));
    return array;
}
id (*s_savedProcessArguments)(id, SEL);

void logHookWarning(const char* line) { Platform::systemLog(line); }

// Once per process, as SpringBoard does at start.
void prepareProcess()
{
    static bool prepared = false;
    if (prepared)
        return;
    prepared = true;
    setHookWarningHandler(&logHookWarning);
    hookMessage(getClass("NSProcessInfo"), ObjC::sel("arguments"), &processArguments, &s_savedProcessArguments);
}

} // namespace

HostProfile profileFor(int major, int minor, std::optional<NotificationRoute> route)
{
    HostProfile profile;
    profile.iosVersion = { major, minor, 0 };
    profile.coreFoundationVersion = Platform::coreFoundationVersionFor(profile.iosVersion);
    profile.notificationRoute = route.value_or(defaultNotificationRoute(major));
    return profile;
}

void EngineTest::SetUp()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-engine-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary device");
    m_root = pattern;
    Platform::setDeviceRoot(m_root);

    prepareProcess();
    kestrelResetForTesting();
    clearHookJournal();
    Platform::resetMainQueue(Platform::ClockKind::Virtual);
    Platform::setProcessArgumentsForTesting(std::vector<std::string> { springBoardPath });
    Platform::setSystemVersion({ 14, 0, 0 });
    kCFCoreFoundationVersionNumber = 1740.00;
    HostState::shared().resetForTesting();
    Platform::setTimelineSink([this](std::string_view event) {
        std::lock_guard guard(m_eventsLock);
        m_events.emplace_back(event);
    });
}

void EngineTest::TearDown()
{
    // What is still queued runs, so that everything it holds is let go (bounded: a task may
    // queue another).
    for (int turn = 0; turn < 1000 && queue().pendingCount(); ++turn)
        queue().advanceTo(std::max(queue().now(), queue().nextDeadline().value_or(queue().now())));
    Platform::resetMainQueue(Platform::ClockKind::Virtual);
    HostState::shared().resetForTesting();
    kestrelResetForTesting();
    Platform::setTimelineSink(nullptr);
    Platform::setProcessArgumentsForTesting(std::nullopt);
    Platform::clearDeviceRoot();
    std::error_code error;
    std::filesystem::remove_all(m_root, error);
}

void EngineTest::registerHost(const HostProfile& profile)
{
    Platform::setSystemVersion(profile.iosVersion);
    kCFCoreFoundationVersionNumber = profile.coreFoundationVersion;
    registerSpringBoardClasses(profile);
}

void EngineTest::boot(const HostProfile& profile)
{
    registerHost(profile);
    kestrelInstall();
    createLockScreenObjects();
    queue().runUntilIdle();
}

void EngineTest::writeFile(std::string_view devicePath, std::string_view contents, unsigned mode) const
{
    auto path = std::filesystem::path(hostPath(devicePath));
    std::filesystem::create_directories(path.parent_path());
    {
        std::ofstream stream(path, std::ios::binary | std::ios::trunc);
        stream << contents;
    }
    ::chmod(path.c_str(), mode);
}

void EngineTest::writeSettings(std::vector<std::pair<std::string, Value>> entries) const
{
    Platform::Plist::Dictionary dictionary;
    for (auto& [key, value] : entries)
        dictionary.set(key, value);
    auto path = std::filesystem::path(hostPath(settingsPath));
    std::filesystem::create_directories(path.parent_path());
    if (!Platform::Plist::writeFileAtomically(path.string(), Value(std::move(dictionary))))
        throw std::runtime_error("cannot write the settings file");
}

void EngineTest::installCompanion() const
{
    auto target = std::filesystem::path(hostPath(companionPath));
    std::filesystem::create_directories(target.parent_path());
    std::filesystem::copy_file(std::string(KESTREL_BUILD_DIR) + "/lib/Nightjar.dylib", target,
        std::filesystem::copy_options::overwrite_existing);
}

std::vector<std::string> EngineTest::events() const
{
    std::lock_guard guard(m_eventsLock);
    return m_events;
}

std::vector<std::string> EngineTest::eventsStartingWith(std::string_view prefix) const
{
    std::vector<std::string> matching;
    for (auto& event : events()) {
        if (event.starts_with(prefix))
            matching.push_back(event);
    }
    return matching;
}

size_t EngineTest::countEvents(std::string_view event) const
{
    auto all = events();
    return std::count(all.begin(), all.end(), event);
}

void EngineTest::clearEvents()
{
    std::lock_guard guard(m_eventsLock);
    m_events.clear();
}

std::vector<std::string> EngineTest::attempts() const
{
    std::vector<std::string> found;
    for (auto& event : eventsStartingWith("attempt "))
        found.push_back(event.substr(std::string_view("attempt ").size()));
    return found;
}

bool EngineTest::faceMatch()
{
    host().biometricAuthenticated = true;
    return attempt(host().lockScreenManager, nullptr, true, false, completion());
}

bool EngineTest::attempt(id receiver, id passcode, bool mesa, bool finishUIUnlock, id completion)
{
    return send<bool>(receiver, ObjC::sel(attemptSelector), passcode, mesa, finishUIUnlock, completion);
}

RetainPtr EngineTest::completion() { return CompletionBlock::create(); }

OpenCounter::OpenCounter(const std::string& hostPath)
    : m_descriptor(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
{
    // Closes are watched too: identical events in a row are merged by the kernel, and an
    // open followed by its close never is.
    if (m_descriptor < 0 || ::inotify_add_watch(m_descriptor, hostPath.c_str(), IN_OPEN | IN_CLOSE) < 0)
        throw std::runtime_error("cannot watch " + hostPath);
}

OpenCounter::~OpenCounter()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

int OpenCounter::opens()
{
    alignas(inotify_event) char buffer[4096];
    while (true) {
        ssize_t length = ::read(m_descriptor, buffer, sizeof(buffer));
        if (length <= 0)
            break;
        for (ssize_t offset = 0; offset < length;) {
            auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            if (event->mask & IN_OPEN)
                ++m_opens;
            offset += sizeof(inotify_event) + event->len;
        }
    }
    return m_opens;
}

} // namespace EngineTesting
