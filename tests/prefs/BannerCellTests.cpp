// The banner header: the icon rounded at 22.5 % of its width and drawn at the screen's scale,
// the two labels laid out below it, and the frame pinned to the superview's width at 195 points.
#include "PrefsTestSupport.h"

#include "prefs/KestrelBannerCell.h"

using namespace PrefsTesting;
using UIKit::UIImage;
using UIKit::UIImageView;
using UIKit::UILabel;
using UIKit::UIView;

namespace {

// Records the radius every rounding is asked for, then rounds as before.
SavedImplementation<RefPtr<Object>(Object*, double)> s_savedRounding;
std::vector<double> s_radii;

RefPtr<Object> recordingRounding(Object* self, Selector selector, Object* image, double radius)
{
    s_radii.push_back(radius);
    return s_savedRounding(self, selector, image, radius);
}

class BannerCellTest : public PrefsTest {
protected:
    void SetUp() override
    {
        PrefsTest::SetUp();
        s_radii.clear();
        s_savedRounding.clear();
    }
    void TearDown() override
    {
        s_savedRounding.clear();
        PrefsTest::TearDown();
    }

    static RefPtr<KestrelBannerCell> makeBanner()
    {
        auto group = PSSpecifier::create(dictionary({ { "cell", Value::string("PSGroupCell") } }), nullptr);
        auto allocated = send<RefPtr<Object>>(getClass("KestrelBannerCell"), "alloc");
        return send<RefPtr<KestrelBannerCell>>(allocated, "initWithSpecifier:", group.ptr());
    }
    void installIcon(int width, int height) { writeSolidPNG(hostPath(iconPath), width, height, 1, 0, 0); }
    static RefPtr<UIView> makeView(CGRect frame)
    {
        return send<RefPtr<UIView>>(send<RefPtr<Object>>(getClass("UIView"), "alloc"), "initWithFrame:", frame);
    }
    static RefPtr<UIImage> bannerImage(KestrelBannerCell& cell)
    {
        return send<RefPtr<UIImage>>(send<RefPtr<Object>>(&cell, "bannerView"), "image");
    }
    static CGRect frameOf(const RefPtr<Object>& view) { return send<CGRect>(view, "frame"); }
};

// --- Rounding ---

TEST_F(BannerCellTest, ARadiusOfZeroReturnsTheVeryImageGiven)
{
    installIcon(40, 40);
    auto cell = makeBanner();
    auto icon = UIImage::imageWithContentsOfFile(NSString::create(iconPath).ptr());
    ASSERT_NE(icon, nullptr);
    auto result = send<RefPtr<Object>>(cell, "roundedRectImageFromImage:withRadius:", icon.get(), 0.0);
    EXPECT_EQ(result.get(), static_cast<Object*>(icon.get()));
    EXPECT_EQ(send<RefPtr<Object>>(cell, "roundedRectImageFromImage:withRadius:", nullptr, 0.0), nullptr)
        << "nil stays nil";
    EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr) << "no drawing context was opened";
}

TEST_F(BannerCellTest, AnIconIsRoundedAtItsWidthTimesTheSinglePrecisionFactor)
{
    installIcon(120, 120);
    MSHookMessageEx(getClass("KestrelBannerCell"), sel("roundedRectImageFromImage:withRadius:"), &recordingRounding,
        &s_savedRounding);
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
    auto image = bannerImage(*cell);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(send<CGSize>(image, "size"), CGSizeMake(120, 120));
    EXPECT_EQ(send<double>(image, "scale"), 3.0);
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
    MSHookMessageEx(getClass("KestrelBannerCell"), sel("roundedRectImageFromImage:withRadius:"), &recordingRounding,
        &s_savedRounding);
    auto cell = makeBanner();
    ASSERT_EQ(s_radii.size(), 1u);
    EXPECT_EQ(s_radii[0], 200 * double(0.225f));
    auto image = bannerImage(*cell);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(send<CGSize>(image, "size"), CGSizeMake(200, 100));
    EXPECT_EQ(image->pixelAt(0, 0).alpha, 0);
    EXPECT_EQ(image->pixelAt(100, 50).alpha, 255);
}

// --- Layout ---

TEST_F(BannerCellTest, WithoutAnIconTheBannerIsEmptyAndTheLabelsSitBelowItsPlace)
{
    auto cell = makeBanner();
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(bannerImage(*cell), nullptr);
    double width = send<CGRect>(cell, "bounds").size.width;
    EXPECT_EQ(frameOf(cell->bannerView()), CGRectMake(0, 15, width, 100));

    CGRect title = frameOf(cell->mainTitleLabel());
    CGRect developer = frameOf(cell->subTitleLabel());
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
    EXPECT_NE(bannerImage(*cell), nullptr);
    EXPECT_EQ(frameOf(cell->mainTitleLabel()).origin.y, 120.0);
    EXPECT_EQ(send<int64_t>(cell->bannerView(), "contentMode"), UIKit::UIViewContentModeScaleAspectFit);
}

TEST_F(BannerCellTest, TheSubviewsStandTitleDeveloperLineBanner)
{
    auto cell = makeBanner();
    auto subviews = send<RefPtr<NSArray>>(cell, "subviews");
    ASSERT_EQ(subviews->count(), 3u);
    EXPECT_EQ(subviews->objectAtIndex(0), cell->mainTitleLabel());
    EXPECT_EQ(subviews->objectAtIndex(1), cell->subTitleLabel());
    EXPECT_EQ(subviews->objectAtIndex(2), cell->bannerView()) << "the banner is frontmost";
}

TEST_F(BannerCellTest, TheLabelsTextsFontsAndColours)
{
    auto cell = makeBanner();
    auto* title = dynamic_cast<UILabel*>(cell->mainTitleLabel().get());
    auto* developer = dynamic_cast<UILabel*>(cell->subTitleLabel().get());
    ASSERT_TRUE(title && developer);
    EXPECT_EQ(stringValue(title->text().get()), "Kestrel");
    EXPECT_EQ(stringValue(developer->text().get()), "Developed by PloverDev");
    EXPECT_EQ(title->font()->pointSize(), 35.0);
    EXPECT_EQ(developer->font()->pointSize(), 16.0);
    EXPECT_EQ(title->textColor()->red(), 0) << "the title keeps the default black";
    EXPECT_EQ(developer->textColor()->red(), 0.5) << "gray";
    EXPECT_EQ(developer->textColor()->green(), 0.5);
    EXPECT_EQ(developer->textColor()->blue(), 0.5);
    for (auto* label : { title, developer }) {
        EXPECT_EQ(label->textAlignment(), UIKit::NSTextAlignmentCenter);
        EXPECT_EQ(label->numberOfLines(), 1);
        EXPECT_EQ(label->autoresizingMask(), UIKit::UIViewAutoresizingFlexibleWidth);
        auto background = label->backgroundColor();
        EXPECT_TRUE(!background || background->alpha() == 0) << "clear";
    }
}

TEST_F(BannerCellTest, PreferredHeightIs150ForEveryWidth)
{
    auto cell = makeBanner();
    for (double width : { 0.0, 320.0, 1024.0 })
        EXPECT_EQ(send<double>(cell, "preferredHeightForWidth:", width), 150.0) << width;
    EXPECT_TRUE(Preferences::conformsToPreferencesTableCustomView(getClass("KestrelBannerCell")));
}

// --- Frame pinning ---

TEST_F(BannerCellTest, InASuperviewTheFrameIsPinnedToItsWidthAndTo195Points)
{
    auto cell = makeBanner();
    auto holder = makeView(CGRectMake(0, 300, 375, 150));
    send(holder, "addSubview:", cell.get());
    EXPECT_EQ(send<CGRect>(cell, "frame"), CGRectMake(0, 0, 375, 195));
    for (CGRect asked : { CGRectMake(10, 20, 30, 40), CGRectMake(-5, 1e6, 0, 0), CGRectMake(0, 0, 1024, 150) }) {
        send(cell, "setFrame:", asked);
        EXPECT_EQ(send<CGRect>(cell, "frame"), CGRectMake(0, 0, 375, 195)) << "whatever was set";
        EXPECT_EQ(send<CGRect>(cell, "bounds"), CGRectMake(0, 0, 375, 195)) << "the stored frame too";
    }
    send(holder, "setFrame:", CGRectMake(0, 0, 500, 150));
    EXPECT_EQ(send<CGRect>(cell, "frame"), CGRectMake(0, 0, 500, 195)) << "the frame follows the superview's width";
}

TEST_F(BannerCellTest, ThePinnedCellsSubviewsSpanItsWidth)
{
    auto cell = makeBanner();
    auto holder = makeView(CGRectMake(0, 0, 375, 150));
    send(holder, "addSubview:", cell.get());
    for (auto& view : { cell->mainTitleLabel(), cell->subTitleLabel(), cell->bannerView() }) {
        EXPECT_EQ(frameOf(view).origin.x, 0);
        EXPECT_EQ(frameOf(view).size.width, 375);
    }
}

TEST_F(BannerCellTest, WithoutASuperviewTheFrameIsPinnedToZeroWidth)
{
    auto cell = makeBanner();
    send(cell, "setFrame:", CGRectMake(10, 20, 300, 40));
    EXPECT_EQ(send<CGRect>(cell, "frame"), CGRectMake(0, 0, 0, 195));
}

TEST_F(BannerCellTest, ACellThatLeavesItsSuperviewEndsUpAtZeroWidth)
{
    auto cell = makeBanner();
    auto holder = makeView(CGRectMake(0, 0, 375, 150));
    send(holder, "addSubview:", cell.get());
    send(cell, "removeFromSuperview");
    EXPECT_EQ(send<RefPtr<Object>>(cell, "superview"), nullptr);
    EXPECT_EQ(send<CGRect>(cell, "frame"), CGRectMake(0, 0, 0, 195));

    auto other = makeView(CGRectMake(0, 0, 320, 80));
    send(other, "addSubview:", cell.get());
    EXPECT_EQ(send<CGRect>(cell, "frame"), CGRectMake(0, 0, 320, 195)) << "and is pinned again in a new one";
}

} // namespace
