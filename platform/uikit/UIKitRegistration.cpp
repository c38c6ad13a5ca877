// Registers every UIKit class in the runtime when the library loads.
#include "platform/uikit/UIKit.h"

#include "runtime/CxxClass.h"

namespace UIKit {

using ObjC::CxxClass;

void registerUIKitClasses()
{
    if (ObjC::getClass("UIView"))
        return;
    Class object = ObjC::getClass("NSObject");
    CxxClass<UIColor>::define("UIColor", object)
        .classMethod<&UIColor::clearColor>("clearColor")
        .classMethod<&UIColor::blackColor>("blackColor")
        .classMethod<&UIColor::whiteColor>("whiteColor")
        .classMethod<&UIColor::grayColor>("grayColor")
        .classMethod<&UIColor::lightGrayColor>("lightGrayColor")
        .classMethod<&UIColor::darkGrayColor>("darkGrayColor")
        .classMethod<&UIColor::colorWithWhite>("colorWithWhite:alpha:")
        .classMethod<&UIColor::colorWithRed>("colorWithRed:green:blue:alpha:")
        .method<&UIColor::setFill>("setFill")
        .registerClass();

    CxxClass<UIFont>::define("UIFont", object)
        .classMethod<&UIFont::systemFontOfSize>("systemFontOfSize:")
        .classMethod<&UIFont::boldSystemFontOfSize>("boldSystemFontOfSize:")
        .method<&UIFont::pointSize>("pointSize")
        .method<&UIFont::familyName>("familyName")
        .registerClass();

    CxxClass<UIImage>::define("UIImage", object)
        .classMethod<&UIImage::imageWithContentsOfFile>("imageWithContentsOfFile:")
        .method<&UIImage::initWithContentsOfFile>("initWithContentsOfFile:")
        .method<&UIImage::size>("size")
        .method<&UIImage::scale>("scale")
        .method<&UIImage::drawInRect>("drawInRect:")
        .registerClass();

    CxxClass<UIBezierPath>::define("UIBezierPath", object)
        .classMethod<&UIBezierPath::bezierPathWithRoundedRect>("bezierPathWithRoundedRect:cornerRadius:")
        .classMethod<&UIBezierPath::bezierPathWithRect>("bezierPathWithRect:")
        .method<&UIBezierPath::addClip>("addClip")
        .method<&UIBezierPath::fill>("fill")
        .method<&UIBezierPath::bounds>("bounds")
        .registerClass();

    CxxClass<UIScreen>::define("UIScreen", object)
        .classMethod<&UIScreen::mainScreen>("mainScreen")
        .method<&UIScreen::bounds>("bounds")
        .method<&UIScreen::scale>("scale")
        .registerClass();

    CxxClass<UIApplication>::define("UIApplication", object)
        .classMethod<&UIApplication::sharedApplication>("sharedApplication")
        .method<&UIApplication::openURL>("openURL:")
        .method<&UIApplication::openURLOptionsCompletionHandler>("openURL:options:completionHandler:")
        .method<&UIApplication::canOpenURL>("canOpenURL:")
        .registerClass();

    Class view = CxxClass<UIView>::define("UIView", object)
                     .method<&UIView::initWithFrame>("initWithFrame:")
                     .method<&UIView::init>("init")
                     .method<&UIView::frame>("frame")
                     .method<&UIView::setFrame>("setFrame:")
                     .method<&UIView::bounds>("bounds")
                     .method<&UIView::superview>("superview")
                     .method<&UIView::subviews>("subviews")
                     .method<&UIView::addSubview>("addSubview:")
                     .method<&UIView::removeFromSuperview>("removeFromSuperview")
                     .method<&UIView::willMoveToSuperview>("willMoveToSuperview:")
                     .method<&UIView::didMoveToSuperview>("didMoveToSuperview")
                     .method<&UIView::didAddSubview>("didAddSubview:")
                     .method<&UIView::willRemoveSubview>("willRemoveSubview:")
                     .method<&UIView::layoutSubviews>("layoutSubviews")
                     .method<&UIView::setNeedsLayout>("setNeedsLayout")
                     .method<&UIView::layoutIfNeeded>("layoutIfNeeded")
                     .method<&UIView::sizeThatFits>("sizeThatFits:")
                     .method<&UIView::sizeToFit>("sizeToFit")
                     .method<&UIView::autoresizingMask>("autoresizingMask")
                     .method<&UIView::setAutoresizingMask>("setAutoresizingMask:")
                     .method<&UIView::backgroundColor>("backgroundColor")
                     .method<&UIView::setBackgroundColor>("setBackgroundColor:")
                     .method<&UIView::isHidden>("isHidden")
                     .method<&UIView::setHidden>("setHidden:")
                     .method<&UIView::contentMode>("contentMode")
                     .method<&UIView::setContentMode>("setContentMode:")
                     .method<&UIView::contentView>("contentView")
                     .method<&UIView::drawRect>("drawRect:")
                     .registerClass();

    CxxClass<UILabel>::define("UILabel", view)
        .method<&UILabel::text>("text")
        .method<&UILabel::setText>("setText:")
        .method<&UILabel::font>("font")
        .method<&UILabel::setFont>("setFont:")
        .method<&UILabel::textColor>("textColor")
        .method<&UILabel::setTextColor>("setTextColor:")
        .method<&UILabel::textAlignment>("textAlignment")
        .method<&UILabel::setTextAlignment>("setTextAlignment:")
        .method<&UILabel::numberOfLines>("numberOfLines")
        .method<&UILabel::setNumberOfLines>("setNumberOfLines:")
        .method<&UILabel::sizeThatFits>("sizeThatFits:")
        .method<&UILabel::drawRect>("drawRect:")
        .registerClass();

    CxxClass<UIImageView>::define("UIImageView", view)
        .method<&UIImageView::initWithImage>("initWithImage:")
        .method<&UIImageView::image>("image")
        .method<&UIImageView::setImage>("setImage:")
        .method<&UIImageView::drawRect>("drawRect:")
        .registerClass();
}

namespace {

__attribute__((constructor)) void registerWhenLoaded() { registerUIKitClasses(); }

} // namespace

} // namespace UIKit
