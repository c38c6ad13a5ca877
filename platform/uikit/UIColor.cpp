#include "platform/uikit/UIColor.h"

#include "platform/uikit/UIGraphics.h"
#include "platform/uikit/UIKitObjects.h"

#include <algorithm>
#include <cmath>

namespace UIKit {

namespace {

CGFloat clampComponent(CGFloat value) { return std::isnan(value) ? 0 : std::clamp(value, 0.0, 1.0); }

} // namespace

Class UIColor::runtimeClass() { return ObjC::CxxClass<UIColor>::runtimeClass(); }

UIColor* UIColor::from(id object) { return stateIfKindOf<UIColor>(object); }

id UIColor::create(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha)
{
    ObjC::RetainPtr color = ObjC::allocInit(runtimeClass());
    UIColor* state = ObjC::CxxClass<UIColor>::state(color);
    state->m_red = clampComponent(red);
    state->m_green = clampComponent(green);
    state->m_blue = clampComponent(blue);
    state->m_alpha = clampComponent(alpha);
    return autoreleased(std::move(color));
}

void UIColor::setFill() const
{
    if (cairo_t* context = UIGraphicsGetCurrentContext())
        applyTo(context);
}

void UIColor::applyTo(cairo_t* context) const { cairo_set_source_rgba(context, m_red, m_green, m_blue, m_alpha); }

} // namespace UIKit
