#include "UIKitTestSupport.h"

#include "platform/trace/Timeline.h"

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
    static RefPtr<NSURL> url(const char* text)
    {
        return send<RefPtr<NSURL>>(NSURL::runtimeClass(), "URLWithString:", NSString::create(text));
    }
};

TEST_F(ApplicationTest, OpenURLRecordsTheURLAndReportsItOnTheTimeline)
{
    std::vector<std::string> events;
    Platform::setTimelineSink([&](std::string_view event) { events.emplace_back(event); });
    auto application = send<RefPtr<UIApplication>>(UIApplication::runtimeClass(), "sharedApplication");
    EXPECT_EQ(send<RefPtr<UIApplication>>(UIApplication::runtimeClass(), "sharedApplication"), application);

    EXPECT_TRUE(send<bool>(application, "openURL:", url("https://example.org/kestrel")));
    EXPECT_FALSE(send<bool>(application, "openURL:", nullptr)) << "nil opens nothing";
    EXPECT_EQ(application->openedURLs(), std::vector<std::string> { "https://example.org/kestrel" });
    EXPECT_EQ(events, std::vector<std::string> { "open-url https://example.org/kestrel" });
}

TEST_F(ApplicationTest, TheNewerOpenURLFormOpensAndRunsItsCompletion)
{
    auto application = UIApplication::sharedApplication();
    bool completed = false;
    send(application, "openURL:options:completionHandler:", url("twitter://user?screen_name=x"), nullptr,
        NSBlock::create([&] { completed = true; }));
    EXPECT_TRUE(completed);
    EXPECT_EQ(application->openedURLs(), std::vector<std::string> { "twitter://user?screen_name=x" });
}

TEST_F(ApplicationTest, URLWithStringRefusesNilEmptyAndMalformedText)
{
    EXPECT_EQ(send<RefPtr<NSURL>>(NSURL::runtimeClass(), "URLWithString:", nullptr), nullptr);
    EXPECT_EQ(url(""), nullptr);
    EXPECT_EQ(url("https://example.org/a b"), nullptr);
    EXPECT_EQ(url("https://example.org/\xc3\xa9"), nullptr);
    auto valid = url("https://example.org/p?q=1#top");
    ASSERT_NE(valid, nullptr);
    EXPECT_EQ(stringValue(send<RefPtr<NSString>>(valid, "absoluteString").get()), "https://example.org/p?q=1#top");
}

} // namespace
} // namespace UIKitTesting
