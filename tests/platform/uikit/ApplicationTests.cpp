#include "UIKitTestSupport.h"

#include "platform/foundation/FoundationValue.h"
#include "platform/trace/Timeline.h"

#include <algorithm>
#include <string>
#include <vector>

namespace UIKitTesting {
namespace {

class ApplicationTest : public UIKitTest {
protected:
    void TearDown() override
    {
        Platform::setTimelineSink({});
        UIKitTest::TearDown();
    }
    // What was opened since the test began: the application object lives as long as the process.
    std::vector<std::string> openedSinceStart() const
    {
        auto opened = UIApplication::shared().openedURLs();
        return { opened.begin() + std::min(opened.size(), m_openedBefore), opened.end() };
    }
    size_t m_openedBefore { UIApplication::shared().openedURLs().size() };

    // Foundation's own NSURL: the app opens what it is given.
    static id url(const char* address) { return send<id>(getClass("NSURL"), sel("URLWithString:"), text(address)); }
};

TEST_F(ApplicationTest, OpenURLRecordsTheURLAndReportsItOnTheTimeline)
{
    std::vector<std::string> events;
    Platform::setTimelineSink([&](std::string_view event) { events.emplace_back(event); });
    id application = send<id>(UIApplication::runtimeClass(), sel("sharedApplication"));
    EXPECT_EQ(send<id>(UIApplication::runtimeClass(), sel("sharedApplication")), application);

    EXPECT_TRUE(send<bool>(application, sel("openURL:"), url("https://example.org/kestrel")));
    EXPECT_FALSE(send<bool>(application, sel("openURL:"), nullptr)) << "nil opens nothing";
    EXPECT_EQ(openedSinceStart(), std::vector<std::string> { "https://example.org/kestrel" });
    EXPECT_EQ(events, std::vector<std::string> { "open-url https://example.org/kestrel" });
}

// A completion handler as the blocks ABI lays one out, flagging that it ran and with what.
struct Completion {
    void* isa { nullptr };
    int flags { 0 };
    int reserved { 0 };
    void (*invoke)(Completion*, BOOL) { &Completion::run };
    void* descriptor { nullptr };
    int runs { 0 };
    bool success { false };
    static void run(Completion* self, BOOL success)
    {
        ++self->runs;
        self->success = success;
    }
};

TEST_F(ApplicationTest, TheNewerOpenURLFormOpensAndRunsItsCompletion)
{
    id application = UIApplication::sharedApplication();
    Completion completion;
    // GNUstep's NSURL refuses a query straight after the host ("twitter://user?x"), so the
    // address has a path.
    send(application, sel("openURL:options:completionHandler:"), url("twitter://user/?screen_name=x"), nullptr,
        reinterpret_cast<id>(&completion));
    EXPECT_EQ(completion.runs, 1);
    EXPECT_TRUE(completion.success);
    EXPECT_EQ(openedSinceStart(), std::vector<std::string> { "twitter://user/?screen_name=x" });
    send(application, sel("openURL:options:completionHandler:"), url("https://example.org/"), nullptr, nullptr);
    EXPECT_EQ(openedSinceStart().size(), 2u) << "no completion handler is needed";
}

TEST_F(ApplicationTest, MalformedAddressesMakeNoURLAndAnEmptyOneOpensNothing)
{
    EXPECT_EQ(send<id>(getClass("NSURL"), sel("URLWithString:"), nullptr), nullptr);
    EXPECT_EQ(url("https://example.org/a b"), nullptr);
    EXPECT_EQ(url("https://example.org/\xc3\xa9"), nullptr);
    id valid = url("https://example.org/p?q=1#top");
    ASSERT_NE(valid, nullptr);
    EXPECT_EQ(Platform::stringValue(send<id>(valid, sel("absoluteString"))), "https://example.org/p?q=1#top");

    // Foundation here makes a URL of no text; opening it opens nothing.
    id application = UIApplication::sharedApplication();
    EXPECT_FALSE(send<bool>(application, sel("openURL:"), url("")));
    EXPECT_TRUE(openedSinceStart().empty());
}

} // namespace
} // namespace UIKitTesting
