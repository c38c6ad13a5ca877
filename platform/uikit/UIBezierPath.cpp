#include "platform/uikit/UIBezierPath.h"

#include "platform/uikit/UIGraphics.h"
#include "platform/uikit/UIKitObjects.h"

#include <cmath>
#include <algorithm>
#include <numbers>

namespace UIKit {

namespace {

// A rectangle with negative sides names the same area as its flipped form.
CGRect standardized(CGRect rect)
{
    if (rect.size.width < 0) {
        rect.origin.x += rect.size.width;
        rect.size.width = -rect.size.width;
    }
    if (rect.size.height < 0) {
        rect.origin.y += rect.size.height;
        rect.size.height = -rect.size.height;
    }
    return rect;
}

} // namespace

Class UIBezierPath::runtimeClass() { return ObjC::CxxClass<UIBezierPath>::runtimeClass(); }

UIBezierPath* UIBezierPath::from(id object) { return stateIfKindOf<UIBezierPath>(object); }

id UIBezierPath::bezierPathWithRoundedRect(CGRect rect, double cornerRadius)
{
    ObjC::RetainPtr path = ObjC::allocInit(runtimeClass());
    UIBezierPath* state = ObjC::CxxClass<UIBezierPath>::state(path);
    state->m_rect = standardized(rect);
    CGFloat limit = std::min(state->m_rect.size.width, state->m_rect.size.height) / 2;
    state->m_cornerRadius = std::isnan(cornerRadius) || !(limit > 0) ? 0 : std::clamp(cornerRadius, 0.0, limit);
    return autoreleased(std::move(path));
}

id UIBezierPath::bezierPathWithRect(CGRect rect) { return bezierPathWithRoundedRect(rect, 0); }

void UIBezierPath::appendTo(cairo_t* context) const
{
    double x = m_rect.origin.x;
    double y = m_rect.origin.y;
    double width = m_rect.size.width;
    double height = m_rect.size.height;
    double radius = m_cornerRadius;
    if (radius <= 0) {
        cairo_rectangle(context, x, y, width, height);
        return;
    }
    constexpr double pi = std::numbers::pi;
    cairo_new_sub_path(context);
    cairo_arc(context, x + width - radius, y + radius, radius, -pi / 2, 0);
    cairo_arc(context, x + width - radius, y + height - radius, radius, 0, pi / 2);
    cairo_arc(context, x + radius, y + height - radius, radius, pi / 2, pi);
    cairo_arc(context, x + radius, y + radius, radius, pi, 3 * pi / 2);
    cairo_close_path(context);
}

void UIBezierPath::addClip() const
{
    cairo_t* context = UIGraphicsGetCurrentContext();
    if (!context)
        return;
    cairo_new_path(context);
    appendTo(context);
    cairo_clip(context);
}

void UIBezierPath::fill() const
{
    cairo_t* context = UIGraphicsGetCurrentContext();
    if (!context)
        return;
    cairo_new_path(context);
    appendTo(context);
    cairo_fill(context);
}

} // namespace UIKit
