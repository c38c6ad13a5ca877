// The banner header: the icon rounded at 22.5 % of its width and drawn at the screen's scale,
// the two labels laid out below it, and the frame pinned to the superview's width at 195 points.
#include "PrefsTestSupport.h"

#include "prefs/KestrelBannerCell.h"
#include "runtime/Substrate.h"

using namespace PrefsTesting;
using UIKit::UIImage;
using UIKit::UILabel;
using UIKit::UIView;

namespace {

// Records the radius every rounding is asked for, then rounds as before.
id (*s_savedRounding)(id, SEL, id, double) = nullptr;
std::vector<double> s_radii;

id recordingRounding(id self, SEL selector, id image, double radius)
{
    s_radii.push_back(radius);
    return s_savedRounding(self, selector, image, radius);
}

void recordRoundings()
{
    static bool const hooked = [] {
        hookMessage(getClass("KestrelBannerCell"), sel("roundedRectImageFromImage:withRadius:"), &recordingRounding,
            &s_savedRounding);
        return true;
    }();
    EXPECT_TRUE(hooked && s_savedRounding);
}

class BannerCellTest : public PrefsTest {
protected:
    void SetUp() override
    {
        PrefsTest::SetUp();
        s_radii.clear();
    }

    // [[KestrelBannerCell alloc] initWithSpecifier:group], owned.
    static RetainPtr makeBanner()
    {
        auto group = row(dictionary({ { "cell", Value::string("PSGroupCell") } }), nullptr);
        id allocated = send<id>(getClass("KestrelBannerCell"), sel("alloc"));
        return adopt(send<id>(allocated, sel("initWithSpecifier:"), group));
    }
    void installIcon(int width, int height) { writeSolidPNG(hostPath(iconPath), width, height, 1, 0, 0); }
    static RetainPtr makeView(CGRect frame)
    {
        return adopt(send<id>(send<id>(getClass("UIView"), sel("alloc")), sel("initWithFrame:"), frame));
    }
    static id bannerImageObject(id cell) { return send<id>(send<id>(cell, sel("bannerView")), sel("image")); }
    static UIImage* bannerImage(id cell) { return UIImage::from(bannerImageObject(cell)); }
    static CGRect frameOf(id view) { return send<CGRect>(view, sel("frame")); }
    static id titleOf(id cell) { return ivarNamed(cell, "mainTitleLabel"); }
    static id developerLineOf(id cell) { return ivarNamed(cell, "subTitleLabel"); }
    static id bannerViewOf(id cell) { return ivarNamed(cell, "bannerView"); }
};

// --- Rounding ---

TEST_F(BannerCellTest, ARadiusOfZeroReturnsTheVeryImageGiven)
{
    installIcon(40, 40);
    auto cell = makeBanner();
    id icon = UIImage::imageWithContentsOfFile(text(iconPath));
    ASSERT_NE(icon, nullptr);
    id result = send<id>(cell, sel("roundedRectImageFromImage:withRadius:"), icon, 0.0);
    EXPECT_EQ(result, icon);
    EXPECT_EQ(send<id>(cell, sel("roundedRectImageFromImage:withRadius:"), nullptr, 0.0), nullptr) << "nil stays nil";
    EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr) << "no drawing context was opened";
}

TEST_F(BannerCellTest, AnIconIsRoundedAtItsWidthTimesTheSinglePrecisionFactor)
{
    installIcon(120, 120);
    recordRoundings();
    makeBanner();
    ASSERT_EQ(s_radii.size(), 1u);
    EXPECT_EQ(s_radii[0], 120 * double(0.225f));
    EXPECT_EQ(s_radii[0], 120 * 0.224999994039535522);
    EXPECT_LT(s_radii[0], 27.0) << "just under 27";
    EXPECT_GT(s_radii[0], 26.9999);
}

TEST_F(BannerCellTest, TheRoundedIconKeepsItsSizeInPointsTakesTheScreensScaleAndHasTransparentCorners)
{
    UIKit::UIScreen::configureMainScreen(414, 896, 3);
    installIcon(120, 120);
    auto cell = makeBanner();
    UIImage* image = bannerImage(cell);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(send<CGSize>(bannerImageObject(cell), sel("size")), CGSizeMake(120, 120));
    EXPECT_EQ(send<double>(bannerImageObject(cell), sel("scale")), 3.0);
    EXPECT_EQ(image->pixelWidth(), 360);
    EXPECT_EQ(image->pixelHeight(), 360);

    EXPECT_EQ(image->pixelAt(0, 0).alpha, 0) << "corner";
    EXPECT_EQ(image->pixelAt(359, 0).alpha, 0) << "corner";
    EXPECT_EQ(image->pixelAt(0, 359).alpha, 0) << "corner";
    EXPECT_EQ(image->pixelAt(359, 359).alpha, 0) << "corner";
    EXPECT_EQ(image->pixelAt(180, 180), (UIImage::RGBA { 255, 0, 0, 255 })) << "centre";
    EXPECT_EQ(image->pixelAt(180, 0).alpha, 255) << "the middle of an edge is inside";
    // On the diagonal a 27-point corner cuts in by 27 × (1 - 1/√2) ≈ 7.9 points.
    EXPECT_EQ(image->pixelAt(6 * 3, 6 * 3).alpha, 0) << "6 points in: outside the arc";
    EXPECT_EQ(image->pixelAt(10 * 3, 10 * 3).alpha, 255) << "10 points in: inside the arc";
}

TEST_F(BannerCellTest, AnOblongIconIsRoundedFromItsWidth)
{
    UIKit::UIScreen::configureMainScreen(375, 667, 1);
    installIcon(200, 100);
    recordRoundings();
    auto cell = makeBanner();
    ASSERT_EQ(s_radii.size(), 1u);
    EXPECT_EQ(s_radii[0], 200 * double(0.225f));
    UIImage* image = bannerImage(cell);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(send<CGSize>(bannerImageObject(cell), sel("size")), CGSizeMake(200, 100));
    EXPECT_EQ(image->pixelAt(0, 0).alpha, 0);
    EXPECT_EQ(image->pixelAt(100, 50).alpha, 255);
}

// --- Layout ---

TEST_F(BannerCellTest, WithoutAnIconTheBannerIsEmptyAndTheLabelsSitBelowItsPlace)
{
    auto cell = makeBanner();
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(bannerImageObject(cell), nullptr);
    double width = send<CGRect>(cell, sel("bounds")).size.width;
    EXPECT_EQ(frameOf(bannerViewOf(cell)), CGRectMake(0, 15, width, 100));
    EXPECT_EQ(send<id>(cell, sel("bannerView")), bannerViewOf(cell));

    CGRect title = frameOf(titleOf(cell));
    CGRect developer = frameOf(developerLineOf(cell));
    EXPECT_EQ(title.origin.y, 120.0);
    EXPECT_GT(title.size.height, 30) << "fitted to a 35-point line";
    EXPECT_LT(title.size.height, 50);
    EXPECT_EQ(developer.origin.y, title.origin.y + title.size.height + 5.0);
    EXPECT_GT(developer.size.height, 10) << "fitted to a 16-point line";
    EXPECT_LT(developer.size.height, title.size.height);
    for (CGRect frame : { title, developer }) {
        EXPECT_EQ(frame.origin.x, 0);
        EXPECT_EQ(frame.size.width, width) << "the cell's width, not the text's";
    }
}

TEST_F(BannerCellTest, WithAnIconTheLayoutIsTheSame)
{
    installIcon(120, 120);
    auto cell = makeBanner();
    EXPECT_NE(bannerImage(cell), nullptr);
    EXPECT_EQ(frameOf(titleOf(cell)).origin.y, 120.0);
    EXPECT_EQ(send<int64_t>(bannerViewOf(cell), sel("contentMode")), UIKit::UIViewContentModeScaleAspectFit);
}

TEST_F(BannerCellTest, TheSubviewsStandTitleDeveloperLineBanner)
{
    auto cell = makeBanner();
    id subviews = send<id>(cell, sel("subviews"));
    ASSERT_EQ(send<unsigned long>(subviews, sel("count")), 3u);
    EXPECT_EQ(send<id>(subviews, sel("objectAtIndex:"), 0ul), titleOf(cell));
    EXPECT_EQ(send<id>(subviews, sel("objectAtIndex:"), 1ul), developerLineOf(cell));
    EXPECT_EQ(send<id>(subviews, sel("objectAtIndex:"), 2ul), bannerViewOf(cell)) << "the banner is frontmost";
}

TEST_F(BannerCellTest, TheLabelsTextsFontsAndColours)
{
    auto cell = makeBanner();
    UILabel* title = UILabel::from(titleOf(cell));
    UILabel* developer = UILabel::from(developerLineOf(cell));
    ASSERT_TRUE(title && developer);
    EXPECT_EQ(textOf(title->text()), "Kestrel");
    EXPECT_EQ(textOf(developer->text()), "Developed by PloverDev");
    EXPECT_EQ(UIKit::UIFont::from(title->font())->pointSize(), 35.0);
    EXPECT_EQ(UIKit::UIFont::from(developer->font())->pointSize(), 16.0);
    EXPECT_EQ(UIKit::UIColor::from(title->textColor())->red(), 0) << "the title keeps the default black";
    UIKit::UIColor* gray = UIKit::UIColor::from(developer->textColor());
    EXPECT_EQ(gray->red(), 0.5) << "gray";
    EXPECT_EQ(gray->green(), 0.5);
    EXPECT_EQ(gray->blue(), 0.5);
    for (id label : { titleOf(cell), developerLineOf(cell) }) {
        EXPECT_EQ(UILabel::from(label)->textAlignment(), UIKit::NSTextAlignmentCenter);
        EXPECT_EQ(UILabel::from(label)->numberOfLines(), 1);
        EXPECT_EQ(UIView::from(label)->autoresizingMask(), UIKit::UIViewAutoresizingFlexibleWidth);
        UIKit::UIColor* background = UIKit::UIColor::from(UIView::from(label)->backgroundColor());
        EXPECT_TRUE(!background || background->alpha() == 0) << "clear";
    }
}

TEST_F(BannerCellTest, PreferredHeightIs150ForEveryWidth)
{
    auto cell = makeBanner();
    for (double width : { 0.0, 320.0, 1024.0 })
        EXPECT_EQ(send<double>(cell, sel("preferredHeightForWidth:"), width), 150.0) << width;
    EXPECT_TRUE(Preferences::conformsToPreferencesTableCustomView(getClass("KestrelBannerCell")));
}

// --- Frame pinning ---

TEST_F(BannerCellTest, InASuperviewTheFrameIsPinnedToItsWidthAndTo195Points)
{
    auto cell = makeBanner();
    auto holder = makeView(CGRectMake(0, 300, 375, 150));
    send(holder, sel("addSubview:"), cell);
    EXPECT_EQ(send<CGRect>(cell, sel("frame")), CGRectMake(0, 0, 375, 195));
    for (CGRect asked : { CGRectMake(10, 20, 30, 40), CGRectMake(-5, 1e6, 0, 0), CGRectMake(0, 0, 1024, 150) }) {
        send(cell, sel("setFrame:"), asked);
        EXPECT_EQ(send<CGRect>(cell, sel("frame")), CGRectMake(0, 0, 375, 195)) << "whatever was set";
        EXPECT_EQ(send<CGRect>(cell, sel("bounds")), CGRectMake(0, 0, 375, 195)) << "the stored frame too";
    }
    send(holder, sel("setFrame:"), CGRectMake(0, 0, 500, 150));
    EXPECT_EQ(send<CGRect>(cell, sel("frame")), CGRectMake(0, 0, 500, 195)) << "the frame follows the superview's width";
}

TEST_F(BannerCellTest, ThePinnedCellsSubviewsSpanItsWidth)
{
    auto cell = makeBanner();
    auto holder = makeView(CGRectMake(0, 0, 375, 150));
    send(holder, sel("addSubview:"), cell);
    for (id view : { titleOf(cell), developerLineOf(cell), bannerViewOf(cell) }) {
        EXPECT_EQ(frameOf(view).origin.x, 0);
        EXPECT_EQ(frameOf(view).size.width, 375);
    }
}

TEST_F(BannerCellTest, WithoutASuperviewTheFrameIsPinnedToZeroWidth)
{
    auto cell = makeBanner();
    send(cell, sel("setFrame:"), CGRectMake(10, 20, 300, 40));
    EXPECT_EQ(send<CGRect>(cell, sel("frame")), CGRectMake(0, 0, 0, 195));
}

TEST_F(BannerCellTest, ACellThatLeavesItsSuperviewEndsUpAtZeroWidth)
{
    auto cell = makeBanner();
    auto holder = makeView(CGRectMake(0, 0, 375, 150));
    send(holder, sel("addSubview:"), cell);
    send(cell, sel("removeFromSuperview"));
    EXPECT_EQ(send<id>(cell, sel("superview")), nullptr);
    EXPECT_EQ(send<CGRect>(cell, sel("frame")), CGRectMake(0, 0, 0, 195));

    auto other = makeView(CGRectMake(0, 0, 320, 80));
    send(other, sel("addSubview:"), cell);
    EXPECT_EQ(send<CGRect>(cell, sel("frame")), CGRectMake(0, 0, 320, 195)) << "and is pinned again in a new one";
}

} // namespace
