#include "prefs/KestrelBannerCell.h"

#include "platform/preferences/PSListController.h"
#include "platform/uikit/UIKit.h"

using namespace Runtime;

namespace {

const ClassReference s_class("KestrelBannerCell");

constexpr const char* iconPath = "/Library/PreferenceBundles/KestrelPrefs.bundle/KestrelIcon.png";
constexpr float bannerTop = 15.0f;
constexpr double bannerHeight = 100.0;
constexpr float gap = 5.0f;
constexpr double labelHeight = 50.0;
constexpr double titleFontSize = 35.0;
constexpr double subtitleFontSize = 16.0;
// The corner radius as a fraction of the icon's width, in single precision as it always was.
constexpr float cornerFraction = 0.225f;
constexpr double preferredHeight = 150.0;
constexpr double pinnedHeight = 195.0;

void registerBannerCell()
{
    Preferences::registerPreferencesClasses();
    if (getClass("KestrelBannerCell"))
        return;
    ClassBuilder<KestrelBannerCell>("KestrelBannerCell", "PSTableCell")
        .method<&KestrelBannerCell::initWithSpecifier>("initWithSpecifier:")
        .method<&KestrelBannerCell::preferredHeightForWidth>("preferredHeightForWidth:")
        .method<&KestrelBannerCell::roundedRectImageFromImage>("roundedRectImageFromImage:withRadius:")
        .method<&KestrelBannerCell::frame>("frame")
        .method<&KestrelBannerCell::setFrame>("setFrame:")
        .method<&KestrelBannerCell::didMoveToSuperview>("didMoveToSuperview")
        .method<&KestrelBannerCell::layoutSubviews>("layoutSubviews")
        .method<&KestrelBannerCell::bannerView>("bannerView")
        .method<&KestrelBannerCell::setBannerView>("setBannerView:")
        .ivar<&KestrelBannerCell::m_mainTitleLabel>("mainTitleLabel")
        .ivar<&KestrelBannerCell::m_subTitleLabel>("subTitleLabel")
        .ivar<&KestrelBannerCell::m_bannerView>("bannerView");
}

const bool s_registered = (addClassRegistrar(&registerBannerCell), true);

RefPtr<Object> classObject(const char* name) { return RefPtr<Object>(getClass(name)); }

RefPtr<Object> makeLabel(CGRect frame, double fontSize, const char* text, bool gray)
{
    auto label = send<RefPtr<Object>>(send<RefPtr<Object>>(classObject("UILabel"), "alloc"), "initWithFrame:", frame);
    send(label, "setNumberOfLines:", int64_t(1));
    send(label, "setFont:", send<RefPtr<Object>>(classObject("UIFont"), "systemFontOfSize:", fontSize).get());
    send(label, "setText:", NSString::create(text).ptr());
    send(label, "setBackgroundColor:", send<RefPtr<Object>>(classObject("UIColor"), "clearColor").get());
    if (gray)
        send(label, "setTextColor:", send<RefPtr<Object>>(classObject("UIColor"), "grayColor").get());
    send(label, "setTextAlignment:", int64_t(1));
    send(label, "setAutoresizingMask:", uint64_t(2));
    return label;
}

// Fits the label to its text, then gives it the cell's width again at x 0.
CGRect fitToWidth(const RefPtr<Object>& label, double width)
{
    send(label, "sizeToFit");
    CGRect fitted = send<CGRect>(label, "frame");
    CGRect frame = CGRectMake(0, fitted.origin.y, width, fitted.size.height);
    send(label, "setFrame:", frame);
    return frame;
}

double superviewWidth(Object* cell)
{
    auto superview = send<RefPtr<Object>>(cell, "superview");
    return superview ? send<CGRect>(superview, "frame").size.width : 0;
}

} // namespace

RefPtr<Object> KestrelBannerCell::initWithSpecifier(Object*)
{
    auto cell = sendSuper<RefPtr<Object>>(this, s_class.get(), "initWithStyle:reuseIdentifier:", int64_t(0), NSString::create("Cell"));
    auto* self = dynamic_cast<KestrelBannerCell*>(cell.get());
    if (!self)
        return nullptr;

    double width = send<CGRect>(self, "bounds").size.width;
    auto banner = send<RefPtr<Object>>(send<RefPtr<Object>>(classObject("UIImageView"), "alloc"), "initWithFrame:",
        CGRectMake(0, bannerTop, width, bannerHeight));
    send(self, "setBannerView:", banner.get());
    send(banner, "setContentMode:", int64_t(1));

    {
        // The loaded icon is needed only here; the view keeps the rounded copy.
        auto icon = send<RefPtr<Object>>(send<RefPtr<Object>>(classObject("UIImage"), "alloc"), "initWithContentsOfFile:",
            NSString::create(iconPath).ptr());
        double radius = send<CGSize>(icon, "size").width * cornerFraction;
        auto rounded = send<RefPtr<Object>>(self, "roundedRectImageFromImage:withRadius:", icon.get(), radius);
        send(banner, "setImage:", rounded.get());
    }
    send(banner, "setAutoresizingMask:", uint64_t(2));

    float y = bannerTop + float(send<CGRect>(banner, "frame").size.height);
    y = y + gap;

    self->m_mainTitleLabel = makeLabel(CGRectMake(0, y, width, labelHeight), titleFontSize, "Kestrel", false);
    CGRect title = fitToWidth(self->m_mainTitleLabel, width);
    y = y + float(title.size.height);
    y = y + gap;

    self->m_subTitleLabel = makeLabel(CGRectMake(0, y, width, labelHeight), subtitleFontSize, "Developed by PloverDev", true);
    fitToWidth(self->m_subTitleLabel, width);

    send(self, "addSubview:", self->m_mainTitleLabel.get());
    send(self, "addSubview:", self->m_subTitleLabel.get());
    send(self, "addSubview:", banner.get());
    return cell;
}

double KestrelBannerCell::preferredHeightForWidth(double) const { return preferredHeight; }

RefPtr<Object> KestrelBannerCell::roundedRectImageFromImage(Object* image, double radius)
{
    if (radius == 0)
        return RefPtr<Object>(image);
    CGSize size = send<CGSize>(image, "size");
    double scale = send<double>(send<RefPtr<Object>>(classObject("UIScreen"), "mainScreen"), "scale");
    UIGraphicsBeginImageContextWithOptions(size, false, scale);
    auto path = send<RefPtr<Object>>(classObject("UIBezierPath"), "bezierPathWithRoundedRect:cornerRadius:",
        CGRectMake(0, 0, size.width, size.height), radius);
    send(path, "addClip");
    send(image, "drawInRect:", CGRectMake(0, 0, size.width, size.height));
    RefPtr<Object> rounded = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return rounded;
}

CGRect KestrelBannerCell::frame()
{
    if (send<RefPtr<Object>>(this, "superview"))
        return CGRectMake(0, 0, superviewWidth(this), pinnedHeight);
    return sendSuper<CGRect>(this, s_class.get(), "frame");
}

void KestrelBannerCell::setFrame(CGRect)
{
    sendSuper(this, s_class.get(), "setFrame:", CGRectMake(0, 0, superviewWidth(this), pinnedHeight));
}

void KestrelBannerCell::didMoveToSuperview()
{
    sendSuper(this, s_class.get(), "didMoveToSuperview");
    send(this, "layoutSubviews");
    send(this, "setFrame:", send<CGRect>(this, "frame"));
    send(this, "layoutSubviews");
}

void KestrelBannerCell::layoutSubviews() { sendSuper(this, s_class.get(), "layoutSubviews"); }
