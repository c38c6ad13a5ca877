// The driver protocol both ends speak: every message survives the trip, whatever its text
// holds, and a line that is not a message is refused rather than guessed at.
#include "host/device/DriverProtocol.h"
#include "host/device/LineChannel.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <thread>

using namespace Driver;

namespace {

const std::string awkward = std::string("a b\n\"c\"\\ #d=e,f\r") + '\0' + "\xff\xfe";

// One message of each kind the variant holds, as a default-made value.
template <typename Variant> std::vector<Variant> everyKind()
{
    return []<size_t... index>(std::index_sequence<index...>)
    {
        return std::vector<Variant> { Variant(std::in_place_index<index>)... };
    }
    (std::make_index_sequence<std::variant_size_v<Variant>>());
}

template <typename Variant> std::vector<std::string> encodings(const std::vector<Variant>& messages)
{
    std::vector<std::string> lines;
    for (auto& message : messages)
        lines.push_back(encode(message));
    return lines;
}

TEST(DriverProtocol, EveryMessageSurvivesTheTripWithAnyText)
{
    Boot boot;
    boot.virtualClock = false;
    boot.now = -5;
    boot.origin = 1234567890123;
    boot.ios = { 12, 4, 1 };
    boot.coreFoundation = 1665.15;
    boot.route = NotificationRoute::None;
    boot.finishLaunching = false;
    boot.generation = 7;
    auto decodedBoot = decodeBoot(encode(boot));
    ASSERT_TRUE(decodedBoot);
    EXPECT_EQ(encode(*decodedBoot), encode(boot));
    EXPECT_EQ(*decodedBoot->coreFoundation, 1665.15) << "a real comes back exactly";
    EXPECT_FALSE(decodeBoot(encode(Boot {}))->route) << "an absent option stays absent";

    std::vector<Request> requests
        = { FaceMatch {}, FaceEvent { -10 }, FaceNext { false }, Attempt { awkward, true, false },
              Attempt { std::nullopt, false, true }, Attempt { std::string(), true, true }, Aod { AodAction::PostHide },
              Flashlight { INT64_MIN }, NotificationAdd { awkward }, NotificationAdd { std::nullopt },
              HostUILocked { false }, Advance { 1'500'000'000 }, QueryState {}, DrainNotify {} };
    for (auto& request : everyKind<Request>())
        requests.push_back(request);
    for (auto& line : encodings(requests)) {
        EXPECT_EQ(line.find_first_of("\n\r"), std::string::npos) << "one message, one line: " << line;
        auto decoded = decodeRequest(line);
        ASSERT_TRUE(decoded) << line;
        EXPECT_EQ(encode(*decoded), line);
    }
    EXPECT_EQ(std::get<Attempt>(*decodeRequest(encode(Request(Attempt { awkward, true, false })))).passcode, awkward);
    EXPECT_FALSE(std::get<Attempt>(*decodeRequest(encode(Request(Attempt {})))).passcode) << "nil is not empty text";

    DeviceState state;
    state.notifications = { awkward, std::nullopt, std::string() };
    state.coreFoundation = 1740.0000000000002;
    std::vector<Upstream> upstream = { Done {}, Refused { awkward }, state, Drained { 3 }, ChildExited {},
        StampedEvent { 2'300'000'000, AttemptCall { awkward, true, true, false } },
        StampedEvent { 0, BiometricCall { BiometricCall::Kind::SetAuthenticatedNo } },
        StampedEvent { 1, Note { awkward } },
        StampedEvent { 2, Decision { Decision::Outcome::DelayScheduled, Decision::Reason::ReSend } },
        StampedEvent { 3, DelayedUnlock { DelayedUnlock::Result::SkippedGone } } };
    for (auto& kind : everyKind<Upstream>())
        upstream.push_back(kind);
    for (auto& event : everyKind<Event>())
        upstream.push_back(StampedEvent { 4, event });
    for (auto& line : encodings(upstream)) {
        auto decoded = decodeUpstream(line);
        ASSERT_TRUE(decoded) << line;
        EXPECT_EQ(encode(*decoded), line);
    }
    auto decodedState = std::get<DeviceState>(*decodeUpstream(encode(Upstream(state))));
    EXPECT_EQ(decodedState.notifications, state.notifications);
    EXPECT_EQ(decodedState.coreFoundation, state.coreFoundation);
}

TEST(DriverProtocol, ALineThatIsNotAMessageIsRefused)
{
    for (std::string line :
        { "", "attempt", "attempt passcode=- mesa=maybe finish=no", "attempt passcode=x4 mesa=yes finish=no",
            "attempt passcode=- mesa=yes finish=no extra=1", "advance nanoseconds=1e3", "teleport",
            "face-event event=", "attempt passcode=- passcode=- mesa=yes finish=no" })
        EXPECT_FALSE(decodeRequest(line)) << line;
    EXPECT_FALSE(decodeBoot("boot ios=banana"));
    EXPECT_FALSE(decodeUpstream("event x attempt"));
    EXPECT_FALSE(decodeUpstream("event 5 biometric kind=screen-sideways"));
}

TEST(DriverProtocol, EventsReadOnTheTimelineAsTheyAlwaysHave)
{
    EXPECT_EQ(timelineText(AttemptCall { std::nullopt, true, false, true }),
        "attempt passcode=nil mesa=yes finish=no result=yes");
    EXPECT_EQ(timelineText(AttemptCall { std::string("12 34"), false, true, false }),
        "attempt passcode=\"12 34\" mesa=no finish=yes result=no");
    EXPECT_EQ(timelineText(AttemptCall { std::string("nil"), false, true, false }),
        "attempt passcode=\"nil\" mesa=no finish=yes result=no")
        << "the text nil is not nil";
    EXPECT_EQ(timelineText(BiometricCall { BiometricCall::Kind::ScreenOff }), "biometric screen-off");
    EXPECT_EQ(timelineText(Note { "launch finished" }), "launch finished");
}

// A line too long to be a message is read whole and answered once as what it is; the
// lines after it are read as they were sent.
TEST(LineChannel, AnOverlongLineIsOneLineThatIsNoMessage)
{
    int sockets[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets), 0);
    Device::LineChannel writer(sockets[0]), reader(sockets[1]);
    std::thread sending([&] {
        writer.writeLine(std::string(Device::LineChannel::maximumLineLength * 2 + 5, 'x'));
        writer.writeLine("face-match");
        writer.shutdown();
    });
    auto first = reader.readLine();
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, Device::LineChannel::overlongLine);
    EXPECT_FALSE(decodeRequest(*first));
    EXPECT_EQ(reader.readLine(), "face-match");
    EXPECT_FALSE(reader.readLine());
    sending.join();
}

} // namespace
