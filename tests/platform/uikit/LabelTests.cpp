#include "UIKitTestSupport.h"

namespace UIKitTesting {
namespace {

class LabelTest : public UIKitTest {
protected:
    RefPtr<UILabel> label(const std::string& text, double pointSize, CGRect frame = CGRectMake(12, 34, 0, 0))
    {
        auto result = makeView<UILabel>("UILabel", frame);
        send(result, "setText:", NSString::create(text));
        send(result, "setFont:", send<RefPtr<UIFont>>(UIFont::runtimeClass(), "systemFontOfSize:", pointSize));
        return result;
    }
    CGSize fittedSize(const std::string& text, double pointSize)
    {
        auto subject = label(text, pointSize);
        send(subject, "sizeToFit");
        return send<CGRect>(subject, "frame").size;
    }
};

TEST_F(LabelTest, SizeToFitMeasuresTheTextWithRealMetricsAndKeepsTheOrigin)
{
    auto subject = label("Dismiss after", 16);
    send(subject, "sizeToFit");
    CGRect frame = send<CGRect>(subject, "frame");
    EXPECT_EQ(frame.origin, CGPointMake(12, 34));
    EXPECT_GT(frame.size.width, 40);
    EXPECT_GT(frame.size.height, 10);
    EXPECT_EQ(frame.size.width, std::ceil(frame.size.width)) << "whole points";
}

TEST_F(LabelTest, ALongerTextIsWiderAndABiggerFontIsTaller)
{
    EXPECT_GT(fittedSize("Kestrel unlocks at once", 16).width, fittedSize("Kestrel", 16).width);
    CGSize big = fittedSize("Kestrel", 35);
    CGSize small = fittedSize("Kestrel", 16);
    EXPECT_GT(big.height, small.height);
    // A 35-point font is a 35-unit font: DejaVu Sans lines are about 1.16 em tall.
    EXPECT_GE(big.height, 35);
    EXPECT_LE(big.height, 45);
}

TEST_F(LabelTest, EmptyOrNilTextFitsInZeroSize)
{
    EXPECT_EQ(fittedSize("", 16), CGSize {});
    auto subject = makeView<UILabel>("UILabel", CGRectMake(0, 0, 50, 50));
    EXPECT_EQ(send<CGSize>(subject, "sizeThatFits:", CGSizeMake(100, 100)), CGSize {});
}

TEST_F(LabelTest, OneLineIgnoresTheWidthAndUnlimitedLinesWrapToIt)
{
    std::string text = "Unlock with Face ID as soon as the lock screen sees you, unless music is playing";
    auto subject = label(text, 16);
    CGSize oneLine = send<CGSize>(subject, "sizeThatFits:", CGSizeMake(200, 0));
    EXPECT_GT(oneLine.width, 200);
    send(subject, "setNumberOfLines:", int64_t(0));
    CGSize wrapped = send<CGSize>(subject, "sizeThatFits:", CGSizeMake(200, 0));
    EXPECT_LE(wrapped.width, 200);
    EXPECT_GT(wrapped.height, 2 * oneLine.height);
    send(subject, "setNumberOfLines:", int64_t(2));
    CGSize twoLines = send<CGSize>(subject, "sizeThatFits:", CGSizeMake(200, 0));
    EXPECT_NEAR(twoLines.height, 2 * oneLine.height, 2) << "cut to numberOfLines";
}

TEST_F(LabelTest, DefaultsAreTheSystemFontAt17BlackLeftAlignedOneLine)
{
    auto subject = makeView<UILabel>("UILabel", CGRectZero);
    EXPECT_EQ(send<RefPtr<NSString>>(subject, "text"), nullptr);
    EXPECT_DOUBLE_EQ(send<double>(send<RefPtr<UIFont>>(subject, "font"), "pointSize"), 17);
    EXPECT_EQ(send<RefPtr<UIColor>>(subject, "textColor")->red(), 0);
    EXPECT_EQ(send<int64_t>(subject, "textAlignment"), 0);
    EXPECT_EQ(send<int64_t>(subject, "numberOfLines"), 1);
}

} // namespace
} // namespace UIKitTesting
