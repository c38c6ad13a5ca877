// The page's sentences: each explained event gets one, from the typed event and what the
// events before it told; a statement that stops being true is replaced.
#include "support/WordTables.h"
#include "tools/kestrel/serve/EventJson.h"
#include "tools/kestrel/serve/EventNarrator.h"

#include <gtest/gtest.h>

using namespace Kestrel;
using nlohmann::json;
using Platform::Plist::Value;

namespace {

// A device's events as the narrator gets them, built from the session's own event types.
class Story {
public:
    explicit Story(bool engine = true)
    {
        EventNarrator::Sources sources;
        sources.settings = [this] { return m_settings; };
        sources.engineInstalled = [engine] { return engine; };
        m_narrator = std::make_unique<EventNarrator>(std::move(sources));
        m_narrator->setLabels({ { "DisableIfMusic", "Music is playing" }, { "AutoRetry", "Retry failed matches" },
            { "DisableIfNotifications", "Notifications are waiting" } });
    }

    void set(const std::string& key, Value value) { m_settings.set(key, std::move(value)); }

    json event(Driver::Event event)
    {
        auto object = eventJson({ m_stamp += 1'000'000, std::move(event), m_sequence++ });
        m_narrator->narrate(object);
        if (object.contains("sentence"))
            m_panel = object["sentence"];
        return object;
    }
    json note(const std::string& text) { return event(Driver::Note { text }); }
    json attempt(bool finish, bool result) { return event(Driver::AttemptCall { std::nullopt, true, finish, result }); }
    json decision(Driver::Decision::Outcome outcome, Driver::Decision::Reason reason = Driver::Decision::Reason::None)
    {
        return event(Driver::Decision { outcome, reason });
    }

    // A face match on the Kestrel device as SpringBoard reports it.
    json matchDismissed()
    {
        attempt(true, true);
        note("device unlocked");
        note("lockscreen dismissed");
        return decision(Driver::Decision::Outcome::UnlockNow);
    }
    json matchKept(Driver::Decision::Reason reason)
    {
        attempt(false, true);
        note("device unlocked");
        return decision(Driver::Decision::Outcome::Blocked, reason);
    }

    std::string panel() const { return m_panel; }

private:
    std::unique_ptr<EventNarrator> m_narrator;
    Platform::Plist::Dictionary m_settings;
    int64_t m_stamp { 0 };
    uint64_t m_sequence { 1 };
    std::string m_panel;
};

bool says(const json& event, const std::string& words)
{
    return event.value("sentence", "").find(words) != std::string::npos;
}

} // namespace

TEST(EventNarrator, ADecisionIsExplainedForTheAttemptItWasAbout)
{
    Story story;
    auto kept = story.matchKept(Driver::Decision::Reason::Music);
    EXPECT_EQ(kept["kind"], "kept");
    EXPECT_TRUE(says(kept, "music is playing and 'Music is playing' is on")) << kept.dump();
    EXPECT_TRUE(says(kept, "unlocked underneath")) << kept.dump();

    story.note("device locked");
    auto dismissed = story.matchDismissed();
    EXPECT_EQ(dismissed["kind"], "dismissed");
    EXPECT_EQ(dismissed["brief"], "dismissed at once");

    // On the home screen a match still makes an attempt, which has nothing to dismiss.
    auto again = story.matchDismissed();
    EXPECT_EQ(again["kind"], "passed");
    EXPECT_TRUE(says(again, "already open")) << again.dump();

    story.note("device locked");
    story.note("lockscreen shown");
    story.attempt(false, false);
    auto failed = story.decision(Driver::Decision::Outcome::Blocked, Driver::Decision::Reason::Music);
    EXPECT_TRUE(says(failed, "The unlock itself failed")) << failed.dump();
}

TEST(EventNarrator, AStatementThatStopsBeingTrueIsReplaced)
{
    Story story;
    story.note("notification added section=com.apple.mobilemail");
    story.note("notification added section=com.apple.news");
    auto kept = story.matchKept(Driver::Decision::Reason::Notifications);
    EXPECT_TRUE(says(kept, "2 notifications are waiting")) << kept.dump();
    auto cleared = story.note("notifications cleared");
    EXPECT_TRUE(says(cleared, "nothing holds the lock screen now")) << cleared.dump();
    // Said once: a second clearing changes nothing the panel says.
    EXPECT_FALSE(story.note("notifications cleared").contains("sentence"));

    story.note("audio playing");
    story.matchKept(Driver::Decision::Reason::Music);
    EXPECT_TRUE(says(story.note("audio stopped"), "The music stopped"));

    story.matchDismissed();
    auto locked = story.note("device locked");
    EXPECT_TRUE(says(locked, "Locked")) << locked.dump();
    EXPECT_FALSE(story.note("lockscreen shown").contains("sentence")) << "the lock already said so";
    EXPECT_EQ(story.panel(), locked["sentence"]);

    story.matchDismissed();
    story.note("springboard exited signal=9");
    auto restarted = story.note("springboard started generation=2");
    EXPECT_TRUE(says(restarted, "generation 2")) << restarted.dump();
    EXPECT_TRUE(says(restarted, "locked")) << restarted.dump();
    // The new SpringBoard has nothing waiting: a later clear replaces nothing.
    EXPECT_FALSE(story.note("notifications cleared").contains("sentence"));
}

TEST(EventNarrator, TheDelayIsToldInSecondsAndItsEndAsItCame)
{
    Story story;
    story.set("DelayBeforeUnlock", Value::boolean(true));
    story.set("DelayTime", Value::real(1.5));
    story.attempt(false, true);
    story.note("device unlocked");
    auto waiting = story.decision(Driver::Decision::Outcome::DelayScheduled);
    EXPECT_EQ(waiting["kind"], "waiting");
    EXPECT_TRUE(says(waiting, "goes away in 1.5 s")) << waiting.dump();

    // Locked within the delay: the delayed unlock's attempt fails, and the lock screen stays.
    story.note("device locked");
    story.attempt(true, false);
    EXPECT_FALSE(
        story.decision(Driver::Decision::Outcome::PassThrough, Driver::Decision::Reason::ReSend).contains("sentence"));
    auto ended = story.event(Driver::DelayedUnlock { Driver::DelayedUnlock::Result::Sent });
    EXPECT_EQ(ended["kind"], "failed");
    EXPECT_TRUE(says(ended, "locked again")) << ended.dump();

    story.attempt(false, true);
    story.note("device unlocked");
    story.decision(Driver::Decision::Outcome::DelayScheduled);
    story.attempt(true, true);
    story.note("lockscreen dismissed");
    story.decision(Driver::Decision::Outcome::PassThrough, Driver::Decision::Reason::ReSend);
    auto dismissed = story.event(Driver::DelayedUnlock { Driver::DelayedUnlock::Result::Sent });
    EXPECT_EQ(dismissed["kind"], "dismissed") << dismissed.dump();

    story.note("device locked");
    story.note("lockscreen shown");
    story.attempt(false, false);
    auto refused = story.decision(Driver::Decision::Outcome::DelayRefused);
    EXPECT_TRUE(says(refused, "the unlock failed: nothing was scheduled")) << refused.dump();
}

TEST(EventNarrator, TheDoNotDisturbNoticeAloneIsSaidNotToCount)
{
    Story story;
    story.note("notification added section=com.apple.donotdisturb");
    auto dismissed = story.matchDismissed();
    EXPECT_TRUE(says(dismissed, "Do Not Disturb notice, which does not count")) << dismissed.dump();

    story.note("device locked");
    story.note("lockscreen shown");
    story.note("notification added section=com.apple.mobilemail");
    story.set("DisableIfNotifications", Value::boolean(false));
    auto off = story.matchDismissed();
    EXPECT_TRUE(says(off, "'Notifications are waiting' is off")) << off.dump();
}

TEST(EventNarrator, AFailedMatchAndItsRetryEachHaveASentence)
{
    Story story;
    auto alone = story.note("biometric event=10");
    EXPECT_TRUE(says(alone, "did not match")) << alone.dump();
    EXPECT_TRUE(says(alone, "is off")) << alone.dump();

    story.set("AutoRetry", Value::boolean(true));
    story.set("RetryInterval", Value::real(0.5));
    auto failed = story.note("biometric event=10");
    EXPECT_TRUE(says(failed, "'Retry failed matches' is on: Kestrel looks again in 0.5 s")) << failed.dump();
    EXPECT_FALSE(
        story.event(Driver::BiometricCall { Driver::BiometricCall::Kind::SetAuthenticatedNo }).contains("sentence"));
    auto armed = story.event(Driver::BiometricCall { Driver::BiometricCall::Kind::ScreenOff });
    EXPECT_EQ(armed["kind"], "retry");
    EXPECT_TRUE(says(armed, "in 0.5 s")) << armed.dump();
    auto fired = story.event(Driver::BiometricCall { Driver::BiometricCall::Kind::ScreenOn });
    EXPECT_TRUE(says(fired, "looks for a face again")) << fired.dump();
    auto nothing = story.note("biometric match outcome=no-face");
    EXPECT_TRUE(says(nothing, "'Next match succeeds'")) << nothing.dump();
    EXPECT_EQ(story.panel(), nothing["sentence"]);
    EXPECT_FALSE(story.note("biometric event=7").contains("sentence")) << "only a failed match is one";
}

TEST(EventNarrator, AStockDeviceIsExplainedByItsAttemptsAlone)
{
    Story story(false);
    auto match = story.attempt(false, true);
    EXPECT_EQ(match["brief"], "lock screen stays until you swipe up");
    story.note("device unlocked");
    auto swiped = story.note("lockscreen dismissed");
    EXPECT_TRUE(says(swiped, "Swiped up")) << swiped.dump();
    EXPECT_TRUE(says(story.note("device locked"), "Locked: the lock screen is up."));
    auto failed = story.note("biometric event=10");
    EXPECT_EQ(failed["sentence"], "The face did not match: the phone stays locked.");
}

TEST(EventJson, TheDevicesNotesBecomeTypedEvents)
{
    auto typed = [](Driver::Event event) { return eventJson({ 1'500'000'000, std::move(event), 7 }); };
    auto locked = typed(Driver::Note { "device locked" });
    EXPECT_EQ(locked["type"], "device");
    EXPECT_EQ(locked["locked"], true);
    EXPECT_EQ(locked["seq"], 7);
    EXPECT_DOUBLE_EQ(locked["t"].get<double>(), 1.5);
    EXPECT_EQ(locked["line"], "t=1.500 device locked");
    EXPECT_EQ(typed(Driver::Note { "lockscreen dismissed" })["shown"], false);
    EXPECT_TRUE(typed(Driver::Note { "notification added section=nil" })["section"].is_null());
    EXPECT_EQ(typed(Driver::Note { "notification added section=com.apple.news" })["section"], "com.apple.news");
    auto started = typed(Driver::Note { "springboard started generation=3" });
    EXPECT_EQ(started["type"], "restart");
    EXPECT_EQ(started["generation"], 3);
    EXPECT_EQ(typed(Driver::Note { "springboard exited signal=9" })["phase"], "exited");
    EXPECT_EQ(typed(Driver::Note { "biometric event=10" })["event"], 10);
    EXPECT_EQ(typed(Driver::Note { "flashlight level=0" })["level"], 0);
    EXPECT_EQ(typed(Driver::Note { "post com.plover.kestrel.respring" })["type"], "note");
    EXPECT_EQ(typed(Driver::Note { "flashlight level=bright" })["type"], "note")
        << "a form it does not know stays a note";

    auto decision = typed(Driver::Decision { Driver::Decision::Outcome::UnlockNow, Driver::Decision::Reason::None });
    EXPECT_EQ(decision["outcome"], "unlock-now");
    EXPECT_TRUE(decision["reason"].is_null());
    EXPECT_TRUE(typed(Driver::AttemptCall { std::nullopt, true, false, true })["passcode"].is_null());
    EXPECT_EQ(typed(Driver::BiometricCall { Driver::BiometricCall::Kind::ScreenOff })["step"], "screen-off");
}

TEST(EventJson, EachWordOfTheEventsNamesOneValue)
{
    using TestSupport::expectEveryWordReadsBack;
    expectEveryWordReadsBack<EventType>();
    expectEveryWordReadsBack<NotificationChange>();
    expectEveryWordReadsBack<RestartPhase>();
    expectEveryWordReadsBack<RetrySteps>();
}
