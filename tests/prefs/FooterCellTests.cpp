// The version footer: its height, the label's text from the package database (read afresh at
// every creation), and the label's width, fixed to the main screen's when the cell was made.
#include "PrefsTestSupport.h"

#include "prefs/KSTFooterCell.h"

using namespace PrefsTesting;
using UIKit::UILabel;

namespace {

class FooterCellTest : public PrefsTest {
protected:
    // [[KSTFooterCell alloc] initWithSpecifier:group], owned.
    static RetainPtr makeFooter()
    {
        auto group = row(dictionary({ { "cell", Value::string("PSGroupCell") } }), nullptr);
        id allocated = send<id>(getClass("KSTFooterCell"), sel("alloc"));
        return adopt(send<id>(allocated, sel("initWithSpecifier:"), group));
    }
    static id labelOf(id footer)
    {
        id label = ivarNamed(footer, "mainTitleLabel");
        EXPECT_EQ(send<id>(footer, sel("mainTitleLabel")), label);
        return UILabel::from(label) ? label : nullptr;
    }
    static std::optional<std::string> footerTextOf(id footer)
    {
        id label = labelOf(footer);
        return label ? textOf(send<id>(label, sel("text"))) : std::nullopt;
    }
    static std::string footerTextFor(const char* version) { return textOf(footerText(version ? text(version) : nullptr)).value_or("?"); }
};

TEST_F(FooterCellTest, PreferredHeightIs15ForEveryWidth)
{
    fakeDpkgQueryPrinting("");
    auto footer = makeFooter();
    ASSERT_NE(footer, nullptr);
    for (double width : { 0.0, 320.0, 1024.0 })
        EXPECT_EQ(send<double>(footer, sel("preferredHeightForWidth:"), width), 15.0) << width;
    EXPECT_TRUE(Preferences::conformsToPreferencesTableCustomView(getClass("KSTFooterCell")));
    EXPECT_FALSE(Preferences::conformsToPreferencesTableCustomView(getClass("PSTableCell"))) << "a plain cell is none";
    EXPECT_FALSE(Preferences::conformsToPreferencesTableCustomView(nullptr));
}

TEST_F(FooterCellTest, TheLabelShowsTheNoticeABlankAndTheRecordedVersion)
{
    fakeDpkgQueryPrinting("Package: com.plover.kestrel\nVersion: 1.4-2\n");
    auto text = footerTextOf(makeFooter());
    ASSERT_TRUE(text);
    EXPECT_TRUE(text->ends_with(" 1.4-2")) << *text;
    EXPECT_GT(text->size(), std::string(" 1.4-2").size()) << "a notice comes first";
    EXPECT_EQ(text->find('\n'), std::string::npos) << "one line";
    EXPECT_EQ(*text, footerTextFor("1.4-2"));
}

TEST_F(FooterCellTest, WithoutARecordedVersionTheLabelShowsTheNoticeAndTheStandIn)
{
    fakeDpkgQueryPrinting("Version: 1.0\n");
    std::string notice = footerTextOf(makeFooter()).value_or("");
    notice.resize(notice.size() - std::string("1.0").size());

    for (std::string_view output :
        { std::string_view(""), std::string_view("Version:1.0\n"), std::string_view("Version: 1\xff\n") }) {
        fakeDpkgQueryPrinting(output);
        auto text = footerTextOf(makeFooter());
        ASSERT_TRUE(text);
        EXPECT_EQ(*text, footerTextFor(nullptr));
        EXPECT_TRUE(text->starts_with(notice)) << *text;
        EXPECT_GT(text->size(), notice.size()) << "a stand-in stands where the version would";
        EXPECT_EQ(text->find("(null)"), std::string::npos) << *text;
    }
    std::filesystem::remove(hostPath(dpkgQueryPath));
    EXPECT_EQ(footerTextOf(makeFooter()), footerTextFor(nullptr)) << "no tool at all: the pane stays usable";
}

// A record whose Version field is there but empty records an empty version: the notice and its
// blank are shown with nothing after them, not the stand-in for a missing version.
TEST_F(FooterCellTest, AnEmptyRecordedVersionShowsTheNoticeAndABlankOnly)
{
    fakeDpkgQueryPrinting("Version: 1.0\n");
    std::string withVersion = footerTextOf(makeFooter()).value_or("");
    std::string noticeAndBlank = withVersion.substr(0, withVersion.size() - std::string("1.0").size());
    ASSERT_TRUE(noticeAndBlank.ends_with(" "));

    for (std::string_view output : { std::string_view("Package: com.plover.kestrel\nVersion: \n"),
             std::string_view("Version: \n"), std::string_view("Version: ") }) {
        fakeDpkgQueryPrinting(output);
        EXPECT_EQ(footerTextOf(makeFooter()), noticeAndBlank) << testing::PrintToString(std::string(output));
    }
    EXPECT_NE(noticeAndBlank, footerTextFor(nullptr));
}

TEST_F(FooterCellTest, EveryCreationQueriesThePackageAfresh)
{
    fakeDpkgQueryPrinting("Version: 1.0\n");
    auto first = makeFooter();
    fakeDpkgQueryPrinting("Version: 2.0\n");
    auto second = makeFooter();
    EXPECT_EQ(footerTextOf(first), footerTextFor("1.0")) << "a label is set once";
    EXPECT_EQ(footerTextOf(second), footerTextFor("2.0"));
}

TEST_F(FooterCellTest, TheLabelIsOneSmallGrayCentredLineWithAClearBackground)
{
    fakeDpkgQueryPrinting("Version: 1.0\n");
    auto footer = makeFooter();
    UILabel* label = UILabel::from(labelOf(footer));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->numberOfLines(), 1);
    EXPECT_EQ(UIKit::UIFont::from(label->font())->pointSize(), 12.0);
    EXPECT_EQ(label->textAlignment(), UIKit::NSTextAlignmentCenter);
    UIKit::UIColor* color = UIKit::UIColor::from(label->textColor());
    EXPECT_EQ(color->red(), 0.5);
    EXPECT_EQ(color->green(), 0.5);
    EXPECT_EQ(color->blue(), 0.5);
    EXPECT_EQ(color->alpha(), 1.0);
    UIKit::UIColor* background = UIKit::UIColor::from(UIKit::UIView::from(labelOf(footer))->backgroundColor());
    EXPECT_TRUE(!background || background->alpha() == 0) << "clear";
}

TEST_F(FooterCellTest, TheLabelIsAsWideAsTheScreenWasAndKeepsThatWidth)
{
    fakeDpkgQueryPrinting("Version: 1.0\n");
    UIKit::UIScreen::configureMainScreen(414, 896, 3);
    auto footer = makeFooter();
    id label = labelOf(footer);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(send<CGRect>(label, sel("frame")), CGRectMake(0, 0, 414, 15));

    send(footer, sel("setFrame:"), CGRectMake(0, 0, 1024, 15));
    send(footer, sel("setFrame:"), CGRectMake(0, 0, 200, 40));
    UIKit::UIScreen::configureMainScreen(320, 568, 2);
    EXPECT_EQ(send<CGRect>(label, sel("frame")).size.width, 414)
        << "the cell's width and the screen's later changes do not move it";
}

TEST_F(FooterCellTest, TheLabelIsADirectSubviewOfTheCell)
{
    fakeDpkgQueryPrinting("Version: 1.0\n");
    auto footer = makeFooter();
    id label = labelOf(footer);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(send<id>(label, sel("superview")), footer.get());
    id subviews = send<id>(footer, sel("subviews"));
    ASSERT_EQ(send<unsigned long>(subviews, sel("count")), 1u);
    EXPECT_EQ(send<id>(subviews, sel("objectAtIndex:"), 0ul), label);
}

} // namespace
