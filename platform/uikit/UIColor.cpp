#include "platform/uikit/UIColor.h"

#include "platform/uikit/UIGraphics.h"

#include <algorithm>

namespace UIKit {

namespace {

const Runtime::ClassReference s_colorClass("UIColor");

CGFloat clampComponent(CGFloat value) { return std::isnan(value) ? 0 : std::clamp(value, 0.0, 1.0); }

} // namespace

Runtime::Class* UIColor::runtimeClass() { return s_colorClass.get(); }

Runtime::Ref<UIColor> UIColor::create(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha)
{
    auto color = Runtime::makeInstance<UIColor>(runtimeClass());
    color->m_red = clampComponent(red);
    color->m_green = clampComponent(green);
    color->m_blue = clampComponent(blue);
    color->m_alpha = clampComponent(alpha);
    return color;
}

void UIColor::setFill() const
{
    if (cairo_t* context = UIGraphicsGetCurrentContext())
        applyTo(context);
}

void UIColor::applyTo(cairo_t* context) const { cairo_set_source_rgba(context, m_red, m_green, m_blue, m_alpha); }

} // namespace UIKit
