#include "tools/kestrel/Demo.h"

#include "host/device/DeviceHold.h"
#include "host/device/DeviceLayout.h"
#include "tools/kestrel/scenario/ScenarioRun.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace Kestrel {

namespace {

struct Step {
    const char* title;
    const char* setting; // what the step arranges, in words
    std::vector<const char*> arrange; // quiet set-up lines
    std::vector<const char*> act; // lines whose timeline is shown
    std::vector<const char*> expect; // checks that decide the verdict
    const char* passed; // what happened and why
};

const std::vector<Step>& tour()
{
    static const std::vector<Step> steps = {
        { "Before Kestrel", "A stock device: nothing installed beyond the base system. The face is recognised.", {},
            { "face match" },
            { "expect attempt passcode=nil mesa=yes finish=no", "expect device unlocked", "expect lockscreen shown" },
            "The match unlocked the device, but the lock screen stays until it is swiped away: stock behaviour." },
        { "Install Kestrel", "dpkg installs the Kestrel package, as a package manager on a phone would.", {},
            { "package install" }, { "expect respring" },
            "dpkg put Kestrel in place and SpringBoard restarted to load it (generation 2)." },
        { "Unlock now", "Nothing blocks the unlock. The face is recognised.", {}, { "face match" },
            { "expect attempt passcode=nil mesa=yes finish=yes", "expect lockscreen dismissed" },
            "Kestrel turned the match into a full unlock (finish=yes): the lock screen went away at once." },
        { "Other audio is playing", "\"DisableIfMusic\" is on and another app plays music.",
            { "settings DisableIfMusic=yes", "audio playing" }, { "face match" },
            { "expect attempt passcode=nil mesa=yes finish=no", "expect device unlocked", "expect lockscreen shown" },
            "The device unlocked but the lock screen stayed (finish=no), so the music controls stay in reach." },
        { "The flashlight is on",
            "\"DisableIfFlashlight\" is on and the flashlight was switched on from the lock screen.",
            { "settings DisableIfFlashlight=yes" }, { "flashlight 1", "face match" },
            { "expect attempt passcode=nil mesa=yes finish=no", "expect lockscreen shown" },
            "The lock screen stayed: with the flashlight on, the user is still using the lock screen." },
        { "A notification is waiting", "\"DisableIfNotifications\" is on (the default) and a mail notification waits.",
            { "notification add com.example.mail" }, { "face match" },
            { "expect attempt passcode=nil mesa=yes finish=no", "expect lockscreen shown" },
            "The lock screen stayed so the notification can be read." },
        { "Only the do-not-disturb notice is waiting",
            "The one waiting notification is the system's do-not-disturb notice.",
            { "notification add com.apple.donotdisturb" }, { "face match" },
            { "expect attempt passcode=nil mesa=yes finish=yes", "expect lockscreen dismissed" },
            "That notice does not count (from iOS 12 on): the lock screen went away at once." },
        { "The screen was touched first",
            "\"BlockForTouch\" is on and the user touched the lock screen before the match.",
            { "settings BlockForTouch=yes" }, { "touch", "face match" },
            { "expect attempt passcode=nil mesa=yes finish=no", "expect lockscreen shown" },
            "A touch means the user is doing something on the lock screen: the match only unlocked the device." },
        { "Unlock after a delay", "\"DelayBeforeUnlock\" is on with \"DelayTime\" 1.5 seconds.",
            { "settings DelayBeforeUnlock=yes DelayTime=1.5" }, { "face match", "wait 1.5" },
            { "expect attempt passcode=nil mesa=yes finish=no", "expect attempt passcode=nil mesa=yes finish=yes",
                "expect lockscreen dismissed" },
            "The match unlocked the device at once and Kestrel dismissed the lock screen 1.5 seconds later." },
        { "A failed match is retried",
            "\"AutoRetry\" is on with \"RetryInterval\" 1 second; the first look fails, the second finds the face.",
            { "settings AutoRetry=yes RetryInterval=1", "face next match" }, { "face fail", "wait 1" },
            { "expect biometric set-authenticated=no", "expect biometric screen-off", "expect biometric screen-on",
                "expect attempt passcode=nil mesa=yes finish=yes", "expect lockscreen dismissed" },
            "Kestrel reset the sensor, let the screen go dark for a second and on again; the new match unlocked." },
        { "Restart from the settings pane", "The pane's restart button posts \"com.plover.kestrel.respring\".", {},
            { "respring" }, { "expect respring" },
            "Kestrel ran killall -9 SpringBoard; the device's launcher started a fresh SpringBoard." },
    };
    return steps;
}

// Between steps: the device locked again and every condition cleared, quietly.
const std::vector<const char*> resetLines
    = { "settings delete", "audio stopped", "flashlight 0", "notification clear", "lock" };

// The tour's own lines are well-formed: the parser only types them.
ScenarioLine lineFor(const char* text)
{
    ScenarioPhase booted { true };
    auto parsed = parseCommand(text, booted);
    if (!parsed || !*parsed)
        throw std::logic_error(std::string("the demo's line \"") + text
            + "\" is not a command: " + (parsed ? std::string("blank") : parsed.error()));
    return { 0, std::move(**parsed) };
}

void print(const std::string& text)
{
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

int runDemo(const std::vector<std::string>& arguments)
{
    std::string directory;
    bool keep = false;
    if (arguments.size() == 2 && arguments[0] == "--keep") {
        directory = arguments[1];
        keep = true;
    } else if (!arguments.empty()) {
        std::fputs("usage: kestrel demo [--keep DIR]\n", stderr);
        return 2;
    } else {
        char pattern[] = "/tmp/kestrel-demo.XXXXXX";
        if (!::mkdtemp(pattern)) {
            std::fputs("kestrel: cannot make a temporary directory for the demo device\n", stderr);
            return 2;
        }
        directory = pattern;
    }
    if (auto pid = Device::DeviceHold::holder(directory)) {
        std::fprintf(stderr, "kestrel: the device at %s is in use by process %d\n", directory.c_str(), int(*pid));
        return 2;
    }
    Device::InitOptions stock;
    stock.stock = true;
    if (auto laid = Device::initDevice(directory, stock, Device::Artifacts::nextToExecutable()); !laid) {
        std::fprintf(stderr, "kestrel: %s\n", laid.error().c_str());
        return 2;
    }
    std::string root = std::filesystem::canonical(directory).string();
    auto opened = DeviceSession::open(root, {});
    if (!opened) {
        std::fprintf(stderr, "kestrel: %s\n", opened.error().c_str());
        return 2;
    }
    auto& session = *opened;

    print("Kestrel demo: a simulated iPhone at " + root);
    print("");
    print("When Face ID recognises the user, SpringBoard asks to unlock with finish=no: the device");
    print("unlocks but the lock screen stays until it is swiped away. Kestrel, injected into SpringBoard,");
    print("decides whether to make that finish=yes, which dismisses the lock screen too.");
    print("The tour starts on a stock device and installs Kestrel with dpkg, as a phone gets it.");
    print("Each step below sets a scene, recognises the user's face and prints what the device did");
    print("(t = seconds of simulated time; an \"attempt\" line is the unlock call as Kestrel passed it on).");

    std::atomic<bool> quiet { true };
    ScenarioRun run(*session, [&quiet](const std::string& line, ScenarioRun::LineKind kind) {
        if (!quiet || kind == ScenarioRun::LineKind::Failure)
            print("    " + line);
    });
    run.runLine({ 0, Boot {} });

    int number = 0;
    int mismatches = 0;
    for (auto& step : tour()) {
        quiet = true;
        for (auto* text : resetLines)
            run.runLine(lineFor(text));
        for (auto* text : step.arrange)
            run.runLine(lineFor(text));
        // Calls made before the step are not the step's to check.
        run.checks().discardUnchecked();
        print("");
        print(std::to_string(++number) + ". " + step.title + ". " + step.setting);
        quiet = false;
        for (auto* text : step.act)
            run.runLine(lineFor(text));
        bool held = true;
        for (auto* text : step.expect)
            held = run.runLine(lineFor(text)) && held;
        print(std::string(held ? "   => " : "   => UNEXPECTED: ") + step.passed);
        mismatches += !held;
    }
    quiet = true;
    session->shutdown();

    print("");
    if (keep)
        print("The device stays at " + root + "; try: kestrel settings " + root + " list");
    else
        std::filesystem::remove_all(root);
    if (mismatches) {
        std::fprintf(
            stderr, "kestrel: %d step%s of the demo did not go as described\n", mismatches, mismatches == 1 ? "" : "s");
        return 1;
    }
    print("Every step went as described. Write your own scenarios: see README.md and tests/scenarios/.");
    return 0;
}

} // namespace Kestrel
