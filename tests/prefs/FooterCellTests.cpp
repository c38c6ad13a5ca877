// The version footer: its height, the label's text from the package database (read afresh at
// every creation), and the label's width, fixed to the main screen's when the cell was made.
#include "PrefsTestSupport.h"

#include "prefs/KSTFooterCell.h"

using namespace PrefsTesting;
using UIKit::UILabel;

namespace {

class FooterCellTest : public PrefsTest {
protected:
    static RefPtr<Object> makeFooter()
    {
        auto group = PSSpecifier::create(dictionary({ { "cell", Value::string("PSGroupCell") } }), nullptr);
        auto allocated = send<RefPtr<Object>>(getClass("KSTFooterCell"), "alloc");
        return send<RefPtr<Object>>(allocated, "initWithSpecifier:", group.ptr());
    }
    static RefPtr<UILabel> labelOf(const RefPtr<Object>& footer)
    {
        auto* cell = dynamic_cast<KSTFooterCell*>(footer.get());
        return cell ? RefPtr<UILabel>(dynamic_cast<UILabel*>(cell->mainTitleLabel().get())) : nullptr;
    }
    static std::optional<std::string> textOf(const RefPtr<Object>& footer)
    {
        auto label = labelOf(footer);
        return label ? stringValue(send<RefPtr<Object>>(label, "text").get()) : std::nullopt;
    }
};

TEST_F(FooterCellTest, PreferredHeightIs15ForEveryWidth)
{
    fakeDpkgQueryPrinting("");
    auto footer = makeFooter();
    ASSERT_NE(footer, nullptr);
    for (double width : { 0.0, 320.0, 1024.0 })
        EXPECT_EQ(send<double>(footer, "preferredHeightForWidth:", width), 15.0) << width;
    EXPECT_TRUE(Preferences::conformsToPreferencesTableCustomView(getClass("KSTFooterCell")));
}

TEST_F(FooterCellTest, TheLabelShowsTheNoticeABlankAndTheRecordedVersion)
{
    fakeDpkgQueryPrinting("Package: com.plover.kestrel\nVersion: 1.4-2\n");
    auto text = textOf(makeFooter());
    ASSERT_TRUE(text);
    EXPECT_TRUE(text->ends_with(" 1.4-2")) << *text;
    EXPECT_GT(text->size(), std::string(" 1.4-2").size()) << "a notice comes first";
    EXPECT_EQ(text->find('\n'), std::string::npos) << "one line";
    EXPECT_EQ(*text, footerText(std::string("1.4-2")));
}

TEST_F(FooterCellTest, WithoutARecordedVersionTheLabelShowsTheNoticeAndTheStandIn)
{
    fakeDpkgQueryPrinting("Version: 1.0\n");
    std::string notice = textOf(makeFooter()).value_or("");
    notice.resize(notice.size() - std::string("1.0").size());

    for (std::string_view output :
        { std::string_view(""), std::string_view("Version:1.0\n"), std::string_view("Version: 1\xff\n") }) {
        fakeDpkgQueryPrinting(output);
        auto text = textOf(makeFooter());
        ASSERT_TRUE(text);
        EXPECT_EQ(*text, footerText(std::nullopt));
        EXPECT_TRUE(text->starts_with(notice)) << *text;
        EXPECT_GT(text->size(), notice.size()) << "a stand-in stands where the version would";
        EXPECT_EQ(text->find("(null)"), std::string::npos) << *text;
    }
    std::filesystem::remove(hostPath(dpkgQueryPath));
    EXPECT_EQ(textOf(makeFooter()), footerText(std::nullopt)) << "no tool at all: the pane stays usable";
}

// A record whose Version field is there but empty records an empty version: the notice and its
// blank are shown with nothing after them, not the stand-in for a missing version.
TEST_F(FooterCellTest, AnEmptyRecordedVersionShowsTheNoticeAndABlankOnly)
{
    fakeDpkgQueryPrinting("Version: 1.0\n");
    std::string withVersion = textOf(makeFooter()).value_or("");
    std::string noticeAndBlank = withVersion.substr(0, withVersion.size() - std::string("1.0").size());
    ASSERT_TRUE(noticeAndBlank.ends_with(" "));

    for (std::string_view output : { std::string_view("Package: com.plover.kestrel\nVersion: \n"),
             std::string_view("Version: \n"), std::string_view("Version: ") }) {
        fakeDpkgQueryPrinting(output);
        EXPECT_EQ(textOf(makeFooter()), noticeAndBlank) << testing::PrintToString(std::string(output));
    }
    EXPECT_NE(noticeAndBlank, footerText(std::nullopt));
}

TEST_F(FooterCellTest, EveryCreationQueriesThePackageAfresh)
{
    fakeDpkgQueryPrinting("Version: 1.0\n");
    auto first = makeFooter();
    fakeDpkgQueryPrinting("Version: 2.0\n");
    auto second = makeFooter();
    EXPECT_EQ(textOf(first), footerText(std::string("1.0"))) << "a label is set once";
    EXPECT_EQ(textOf(second), footerText(std::string("2.0")));
}

TEST_F(FooterCellTest, TheLabelIsOneSmallGrayCentredLineWithAClearBackground)
{
    fakeDpkgQueryPrinting("Version: 1.0\n");
    auto label = labelOf(makeFooter());
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->numberOfLines(), 1);
    EXPECT_EQ(label->font()->pointSize(), 12.0);
    EXPECT_EQ(label->textAlignment(), UIKit::NSTextAlignmentCenter);
    auto color = label->textColor();
    EXPECT_EQ(color->red(), 0.5);
    EXPECT_EQ(color->green(), 0.5);
    EXPECT_EQ(color->blue(), 0.5);
    EXPECT_EQ(color->alpha(), 1.0);
    auto background = label->backgroundColor();
    EXPECT_TRUE(!background || background->alpha() == 0) << "clear";
}

TEST_F(FooterCellTest, TheLabelIsAsWideAsTheScreenWasAndKeepsThatWidth)
{
    fakeDpkgQueryPrinting("Version: 1.0\n");
    UIKit::UIScreen::configureMainScreen(414, 896, 3);
    auto footer = makeFooter();
    auto label = labelOf(footer);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(send<CGRect>(label, "frame"), CGRectMake(0, 0, 414, 15));

    send(footer, "setFrame:", CGRectMake(0, 0, 1024, 15));
    send(footer, "setFrame:", CGRectMake(0, 0, 200, 40));
    UIKit::UIScreen::configureMainScreen(320, 568, 2);
    EXPECT_EQ(send<CGRect>(label, "frame").size.width, 414)
        << "the cell's width and the screen's later changes do not move it";
}

TEST_F(FooterCellTest, TheLabelIsADirectSubviewOfTheCell)
{
    fakeDpkgQueryPrinting("Version: 1.0\n");
    auto footer = makeFooter();
    auto label = labelOf(footer);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(send<RefPtr<Object>>(label, "superview"), footer);
    auto subviews = send<RefPtr<NSArray>>(footer, "subviews");
    ASSERT_EQ(subviews->count(), 1u);
    EXPECT_EQ(subviews->objectAtIndex(0).get(), static_cast<Object*>(label.get()));
}

} // namespace
