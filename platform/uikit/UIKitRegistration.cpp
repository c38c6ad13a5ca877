// Registers every UIKit class in the runtime when the library loads, and again after each
// registry reset.
#include "platform/uikit/UIKit.h"

namespace UIKit {

using Runtime::ClassBuilder;

void registerUIKitClasses()
{
    if (Runtime::getClass("UIView"))
        return;
    ClassBuilder<UIColor>("UIColor", "NSObject")
        .classMethod<&UIColor::clearColor>("clearColor")
        .classMethod<&UIColor::blackColor>("blackColor")
        .classMethod<&UIColor::whiteColor>("whiteColor")
        .classMethod<&UIColor::grayColor>("grayColor")
        .classMethod<&UIColor::lightGrayColor>("lightGrayColor")
        .classMethod<&UIColor::darkGrayColor>("darkGrayColor")
        .classMethod<&UIColor::colorWithWhite>("colorWithWhite:alpha:")
        .classMethod<&UIColor::colorWithRed>("colorWithRed:green:blue:alpha:")
        .method<&UIColor::setFill>("setFill");

    ClassBuilder<UIFont>("UIFont", "NSObject")
        .classMethod<&UIFont::systemFontOfSize>("systemFontOfSize:")
        .classMethod<&UIFont::boldSystemFontOfSize>("boldSystemFontOfSize:")
        .method<&UIFont::pointSize>("pointSize")
        .method<&UIFont::familyName>("familyName");

    ClassBuilder<UIImage>("UIImage", "NSObject")
        .classMethod<&UIImage::imageWithContentsOfFile>("imageWithContentsOfFile:")
        .method<&UIImage::initWithContentsOfFile>("initWithContentsOfFile:")
        .method<&UIImage::size>("size")
        .method<&UIImage::scale>("scale")
        .method<&UIImage::drawInRect>("drawInRect:");

    ClassBuilder<UIBezierPath>("UIBezierPath", "NSObject")
        .classMethod<&UIBezierPath::bezierPathWithRoundedRect>("bezierPathWithRoundedRect:cornerRadius:")
        .classMethod<&UIBezierPath::bezierPathWithRect>("bezierPathWithRect:")
        .method<&UIBezierPath::addClip>("addClip")
        .method<&UIBezierPath::fill>("fill")
        .method<&UIBezierPath::bounds>("bounds");

    ClassBuilder<UIScreen>("UIScreen", "NSObject")
        .classMethod<&UIScreen::mainScreen>("mainScreen")
        .method<&UIScreen::bounds>("bounds")
        .method<&UIScreen::scale>("scale");

    ClassBuilder<NSURL>("NSURL", "NSObject")
        .classMethod<&NSURL::URLWithString>("URLWithString:")
        .method<&NSURL::absoluteString>("absoluteString");

    ClassBuilder<UIApplication>("UIApplication", "NSObject")
        .classMethod<&UIApplication::sharedApplication>("sharedApplication")
        .method<&UIApplication::openURL>("openURL:")
        .method<&UIApplication::openURLOptionsCompletionHandler>("openURL:options:completionHandler:")
        .method<&UIApplication::canOpenURL>("canOpenURL:");

    ClassBuilder<UIView>("UIView", "NSObject")
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
        .method<&UIView::contentView>("contentView");

    ClassBuilder<UILabel>("UILabel", "UIView")
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
        .method<&UILabel::sizeThatFits>("sizeThatFits:");

    ClassBuilder<UIImageView>("UIImageView", "UIView")
        .method<&UIImageView::initWithImage>("initWithImage:")
        .method<&UIImageView::image>("image")
        .method<&UIImageView::setImage>("setImage:");
}

namespace {

const bool s_registered = (Runtime::addClassRegistrar(&registerUIKitClasses), true);

} // namespace

} // namespace UIKit
