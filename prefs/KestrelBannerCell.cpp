#include "prefs/KestrelBannerCell.h"

#include "platform/foundation/CoreGraphics.h"
#include "platform/foundation/PlatformCalls.h"
#include "platform/uikit/UIGraphics.h"
#include "runtime/ClassDefinition.h"

using ObjC::send;
using ObjC::sel;

namespace {

ObjC::ClassReference const s_bannerClass("KestrelBannerCell");

constexpr const char* iconPath = KESTREL_JAILBREAK_PATH("/Library/PreferenceBundles/KestrelPrefs.bundle/KestrelIcon.png");
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
constexpr const char* ivarNames[] = { "mainTitleLabel", "subTitleLabel", "bannerView" };

Ivar ivarNamed(const char* name) { return ObjC::instanceVariable(s_bannerClass.get(), name); }

// Holds object (retained) in the instance variable, letting go of what it held.
void store(id self, const char* name, id object)
{
    id* slot = ObjC::ivarAddress<id>(self, ivarNamed(name));
    if (!slot)
        return;
    id previous = *slot;
    *slot = ObjC::RetainPtr(object).leak();
    ObjC::release(previous);
}

id alloc(const char* className) { return send<id>(ObjC::getClass(className), sel("alloc")); }

ObjC::RetainPtr makeLabel(CGRect frame, double fontSize, const char* text, bool gray)
{
    ObjC::RetainPtr label = ObjC::adopt(send<id>(alloc("UILabel"), sel("initWithFrame:"), frame));
    send(label, sel("setNumberOfLines:"), static_cast<long>(1));
    send(label, sel("setFont:"), send<id>(ObjC::getClass("UIFont"), sel("systemFontOfSize:"), fontSize));
    send(label, sel("setText:"), ObjC::string(text));
    send(label, sel("setBackgroundColor:"), send<id>(ObjC::getClass("UIColor"), sel("clearColor")));
    if (gray)
        send(label, sel("setTextColor:"), send<id>(ObjC::getClass("UIColor"), sel("grayColor")));
    send(label, sel("setTextAlignment:"), static_cast<long>(1));
    send(label, sel("setAutoresizingMask:"), static_cast<unsigned long>(2));
    return label;
}

// Fits the label to its text, then gives it the cell's width again at x 0.
CGRect fitToWidth(id label, double width)
{
    send(label, sel("sizeToFit"));
    CGRect fitted = send<CGRect>(label, sel("frame"));
    CGRect frame = CGRectMake(0, fitted.origin.y, width, fitted.size.height);
    send(label, sel("setFrame:"), frame);
    return frame;
}

double superviewWidth(id cell)
{
    id superview = send<id>(cell, sel("superview"));
    return superview ? send<CGRect>(superview, sel("frame")).size.width : 0;
}

id initWithSpecifier(id self, SEL, id)
{
    id cell = ObjC::sendSuper<id>(self, s_bannerClass.get(), sel("initWithStyle:reuseIdentifier:"), static_cast<long>(0),
        ObjC::string("Cell"));
    if (!cell)
        return nullptr;

    double width = send<CGRect>(cell, sel("bounds")).size.width;
    ObjC::RetainPtr banner
        = ObjC::adopt(send<id>(alloc("UIImageView"), sel("initWithFrame:"), CGRectMake(0, bannerTop, width, bannerHeight)));
    send(cell, sel("setBannerView:"), banner);
    send(banner, sel("setContentMode:"), static_cast<long>(1));

    {
        // The loaded icon is needed only here; the view keeps the rounded copy.
        ObjC::RetainPtr icon = ObjC::adopt(send<id>(alloc("UIImage"), sel("initWithContentsOfFile:"), ObjC::string(iconPath)));
        double radius = send<CGSize>(icon, sel("size")).width * cornerFraction;
        id rounded = send<id>(cell, sel("roundedRectImageFromImage:withRadius:"), icon, radius);
        send(banner, sel("setImage:"), rounded);
    }
    send(banner, sel("setAutoresizingMask:"), static_cast<unsigned long>(2));

    float y = bannerTop + float(send<CGRect>(banner, sel("frame")).size.height);
    y = y + gap;

    ObjC::RetainPtr title = makeLabel(CGRectMake(0, y, width, labelHeight), titleFontSize, "Kestrel", false);
    store(cell, "mainTitleLabel", title);
    CGRect titleFrame = fitToWidth(title, width);
    y = y + float(titleFrame.size.height);
    y = y + gap;

    ObjC::RetainPtr developer = makeLabel(CGRectMake(0, y, width, labelHeight), subtitleFontSize, "Developed by PloverDev", true);
    store(cell, "subTitleLabel", developer);
    fitToWidth(developer, width);

    send(cell, sel("addSubview:"), title);
    send(cell, sel("addSubview:"), developer);
    send(cell, sel("addSubview:"), banner);
    return cell;
}

double preferredHeightForWidth(id, SEL, double) { return preferredHeight; }

id roundedRectImageFromImage(id, SEL, id image, double radius)
{
    if (radius == 0)
        return image;
    CGSize size = send<CGSize>(image, sel("size"));
    double scale = send<double>(send<id>(ObjC::getClass("UIScreen"), sel("mainScreen")), sel("scale"));
    UIGraphicsBeginImageContextWithOptions(size, false, scale);
    id path = send<id>(ObjC::getClass("UIBezierPath"), sel("bezierPathWithRoundedRect:cornerRadius:"),
        CGRectMake(0, 0, size.width, size.height), radius);
    send(path, sel("addClip"));
    send(image, sel("drawInRect:"), CGRectMake(0, 0, size.width, size.height));
    id rounded = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return rounded;
}

CGRect frame(id self, SEL selector)
{
    if (send<id>(self, sel("superview")))
        return CGRectMake(0, 0, superviewWidth(self), pinnedHeight);
    return ObjC::sendSuper<CGRect>(self, s_bannerClass.get(), selector);
}

void setFrame(id self, SEL selector, CGRect)
{
    ObjC::sendSuper(self, s_bannerClass.get(), selector, CGRectMake(0, 0, superviewWidth(self), pinnedHeight));
}

void didMoveToSuperview(id self, SEL selector)
{
    ObjC::sendSuper(self, s_bannerClass.get(), selector);
    send(self, sel("layoutSubviews"));
    send(self, sel("setFrame:"), send<CGRect>(self, sel("frame")));
    send(self, sel("layoutSubviews"));
}

void layoutSubviews(id self, SEL selector) { ObjC::sendSuper(self, s_bannerClass.get(), selector); }

id bannerView(id self, SEL) { return ObjC::objectIvar(self, ivarNamed("bannerView")); }

void setBannerView(id self, SEL, id view) { store(self, "bannerView", view); }

void dealloc(id self, SEL selector)
{
    for (const char* name : ivarNames)
        store(self, name, nullptr);
    ObjC::sendSuper(self, s_bannerClass.get(), selector);
}

__attribute__((constructor)) void registerBannerCell()
{
    ObjC::ClassDefinition definition("KestrelBannerCell", ObjC::getClass("PSTableCell"));
    for (const char* name : ivarNames)
        definition.ivar<id>(name);
    definition.method("initWithSpecifier:", &initWithSpecifier)
        .method("preferredHeightForWidth:", &preferredHeightForWidth)
        .method("roundedRectImageFromImage:withRadius:", &roundedRectImageFromImage)
        .method("frame", &frame)
        .method("setFrame:", &setFrame)
        .method("didMoveToSuperview", &didMoveToSuperview)
        .method("layoutSubviews", &layoutSubviews)
        .method("bannerView", &bannerView)
        .method("setBannerView:", &setBannerView)
        .method("dealloc", &dealloc);
    definition.registerClass();
}

} // namespace
