#include "platform/uikit/UIImageView.h"

#include "platform/uikit/UIGraphics.h"
#include "platform/uikit/UIImage.h"
#include "platform/uikit/UIKitObjects.h"

#include <cmath>
#include <algorithm>

namespace UIKit {

Class UIImageView::runtimeClass() { return ObjC::CxxClass<UIImageView>::runtimeClass(); }

UIImageView* UIImageView::from(id object) { return stateIfKindOf<UIImageView>(object); }

id UIImageView::initWithImage(id image)
{
    static SEL const initWithFrame = ObjC::sel("initWithFrame:");
    static SEL const setImageSelector = ObjC::sel("setImage:");
    UIImage* state = UIImage::from(image);
    CGSize size = state ? state->size() : CGSize {};
    id result = ObjC::send<id>(ObjC::selfOf(this), initWithFrame, CGRect { {}, size });
    ObjC::send(result, setImageSelector, image);
    return result;
}

CGRect UIImageView::imageRect(CGSize imageSize, CGRect bounds, int64_t contentMode)
{
    CGSize area = bounds.size;
    if (!(imageSize.width > 0) || !(imageSize.height > 0))
        return {};
    switch (contentMode) {
    case UIViewContentModeScaleToFill:
    case UIViewContentModeRedraw:
        return bounds;
    case UIViewContentModeScaleAspectFit:
    case UIViewContentModeScaleAspectFill: {
        CGFloat horizontal = area.width / imageSize.width;
        CGFloat vertical = area.height / imageSize.height;
        CGFloat factor = contentMode == UIViewContentModeScaleAspectFit ? std::min(horizontal, vertical)
                                                                        : std::max(horizontal, vertical);
        CGSize fitted { imageSize.width * factor, imageSize.height * factor };
        return { { bounds.origin.x + (area.width - fitted.width) / 2,
                     bounds.origin.y + (area.height - fitted.height) / 2 },
            fitted };
    }
    default:
        break;
    }
    // The rest keep the image's own size and pin it to a side or corner (or the centre).
    CGFloat left = bounds.origin.x;
    CGFloat centreX = bounds.origin.x + (area.width - imageSize.width) / 2;
    CGFloat right = bounds.origin.x + area.width - imageSize.width;
    CGFloat top = bounds.origin.y;
    CGFloat centreY = bounds.origin.y + (area.height - imageSize.height) / 2;
    CGFloat bottom = bounds.origin.y + area.height - imageSize.height;
    CGPoint origin { centreX, centreY };
    switch (contentMode) {
    case UIViewContentModeTop:
        origin = { centreX, top };
        break;
    case UIViewContentModeBottom:
        origin = { centreX, bottom };
        break;
    case UIViewContentModeLeft:
        origin = { left, centreY };
        break;
    case UIViewContentModeRight:
        origin = { right, centreY };
        break;
    case UIViewContentModeTopLeft:
        origin = { left, top };
        break;
    case UIViewContentModeTopRight:
        origin = { right, top };
        break;
    case UIViewContentModeBottomLeft:
        origin = { left, bottom };
        break;
    case UIViewContentModeBottomRight:
        origin = { right, bottom };
        break;
    default:
        break;
    }
    return { origin, imageSize };
}

void UIImageView::drawRect(CGRect bounds) const
{
    cairo_t* context = UIGraphicsGetCurrentContext();
    UIImage* image = UIImage::from(m_image);
    if (!context || !image)
        return;
    // Like UIKit without clipsToBounds, an aspect-filled or unscaled image may reach past the bounds.
    image->drawInContext(context, imageRect(image->size(), bounds, UIView::from(ObjC::selfOf(this))->contentMode()));
}

} // namespace UIKit
