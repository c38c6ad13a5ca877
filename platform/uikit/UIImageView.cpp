#include "platform/uikit/UIImageView.h"

#include "platform/uikit/UIImage.h"

#include <cmath>
#include <algorithm>

namespace UIKit {

namespace {

const Runtime::ClassReference s_imageViewClass("UIImageView");

} // namespace

Runtime::Class* UIImageView::runtimeClass() { return s_imageViewClass.get(); }

Runtime::RefPtr<Runtime::Object> UIImageView::initWithImage(UIImage* image)
{
    CGSize size = image ? image->size() : CGSize {};
    auto result = Runtime::send<Runtime::RefPtr<Runtime::Object>>(this, "initWithFrame:", CGRect { {}, size });
    Runtime::send(result, "setImage:", image);
    return result;
}

Runtime::RefPtr<UIImage> UIImageView::image() const { return m_image; }

void UIImageView::setImage(UIImage* image) { m_image = image; }

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

void UIImageView::drawContent(cairo_t* context, CGRect bounds) const
{
    if (!m_image)
        return;
    // Like UIKit without clipsToBounds, an aspect-filled or unscaled image may reach past the bounds.
    m_image->drawInContext(context, imageRect(m_image->size(), bounds, contentMode()));
}

} // namespace UIKit
