#include "platform/uikit/UIBezierPath.h"

#include "platform/uikit/UIGraphics.h"

#include <cmath>
#include <algorithm>
#include <numbers>

namespace UIKit {

namespace {

const Runtime::ClassReference s_bezierPathClass("UIBezierPath");

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

Runtime::Class* UIBezierPath::runtimeClass() { return s_bezierPathClass.get(); }

Runtime::Ref<UIBezierPath> UIBezierPath::bezierPathWithRoundedRect(CGRect rect, double cornerRadius)
{
    auto path = Runtime::makeInstance<UIBezierPath>(runtimeClass());
    path->m_rect = standardized(rect);
    CGFloat limit = std::min(path->m_rect.size.width, path->m_rect.size.height) / 2;
    path->m_cornerRadius = std::isnan(cornerRadius) || !(limit > 0) ? 0 : std::clamp(cornerRadius, 0.0, limit);
    return path;
}

Runtime::Ref<UIBezierPath> UIBezierPath::bezierPathWithRect(CGRect rect) { return bezierPathWithRoundedRect(rect, 0); }

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
