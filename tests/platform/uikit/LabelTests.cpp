#include "UIKitTestSupport.h"

#include "platform/foundation/FoundationValue.h"

namespace UIKitTesting {
namespace {

class LabelTest : public UIKitTest {
protected:
    RetainPtr label(const std::string& content, double pointSize, CGRect frame = CGRectMake(12, 34, 0, 0))
    {
        auto result = makeView("UILabel", frame);
        send(result, sel("setText:"), text(content.c_str()));
        send(result, sel("setFont:"), send<id>(UIFont::runtimeClass(), sel("systemFontOfSize:"), pointSize));
        return result;
    }
    CGSize fittedSize(const std::string& content, double pointSize)
    {
        auto subject = label(content, pointSize);
        send(subject, sel("sizeToFit"));
        return send<CGRect>(subject, sel("frame")).size;
    }
};

TEST_F(LabelTest, SizeToFitMeasuresTheTextWithRealMetricsAndKeepsTheOrigin)
{
    auto subject = label("Dismiss after", 16);
    send(subject, sel("sizeToFit"));
    CGRect frame = send<CGRect>(subject, sel("frame"));
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
    auto subject = makeView("UILabel", CGRectMake(0, 0, 50, 50));
    EXPECT_EQ(send<CGSize>(subject, sel("sizeThatFits:"), CGSizeMake(100, 100)), CGSize {});
}

TEST_F(LabelTest, OneLineIgnoresTheWidthAndUnlimitedLinesWrapToIt)
{
    std::string content = "Unlock with Face ID as soon as the lock screen sees you, unless music is playing";
    auto subject = label(content, 16);
    CGSize oneLine = send<CGSize>(subject, sel("sizeThatFits:"), CGSizeMake(200, 0));
    EXPECT_GT(oneLine.width, 200);
    send(subject, sel("setNumberOfLines:"), int64_t(0));
    CGSize wrapped = send<CGSize>(subject, sel("sizeThatFits:"), CGSizeMake(200, 0));
    EXPECT_LE(wrapped.width, 200);
    EXPECT_GT(wrapped.height, 2 * oneLine.height);
    send(subject, sel("setNumberOfLines:"), int64_t(2));
    CGSize twoLines = send<CGSize>(subject, sel("sizeThatFits:"), CGSizeMake(200, 0));
    EXPECT_NEAR(twoLines.height, 2 * oneLine.height, 2) << "cut to numberOfLines";
}

TEST_F(LabelTest, DefaultsAreTheSystemFontAt17BlackLeftAlignedOneLine)
{
    auto subject = makeView("UILabel", CGRectZero);
    EXPECT_EQ(send<id>(subject, sel("text")), nullptr);
    EXPECT_DOUBLE_EQ(send<double>(send<id>(subject, sel("font")), sel("pointSize")), 17);
    EXPECT_EQ(UIColor::from(send<id>(subject, sel("textColor")))->red(), 0);
    EXPECT_EQ(send<int64_t>(subject, sel("textAlignment")), 0);
    EXPECT_EQ(send<int64_t>(subject, sel("numberOfLines")), 1);
}

TEST_F(LabelTest, TheLabelKeepsACopyOfItsTextAndAnythingButAFontOrColourReadsAsTheDefault)
{
    auto subject = makeView("UILabel", CGRectZero);
    RetainPtr changing = adopt(send<id>(send<id>(getClass("NSMutableString"), sel("alloc")), sel("initWithString:"), text("On")));
    send(subject, sel("setText:"), changing);
    send(changing, sel("appendString:"), text(" and off"));
    EXPECT_EQ(Platform::stringValue(send<id>(subject, sel("text"))), "On");

    send(subject, sel("setFont:"), text("not a font"));
    send(subject, sel("setTextColor:"), text("not a colour"));
    EXPECT_DOUBLE_EQ(send<double>(send<id>(subject, sel("font")), sel("pointSize")), 17);
    EXPECT_EQ(UIColor::from(send<id>(subject, sel("textColor")))->alpha(), 1);
    EXPECT_GT(send<CGSize>(subject, sel("sizeThatFits:"), CGSizeMake(100, 100)).width, 0) << "measured in the default font";
}

} // namespace
} // namespace UIKitTesting
