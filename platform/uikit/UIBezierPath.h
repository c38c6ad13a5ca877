// UIBezierPath: the rectangles and rounded rectangles that image contexts clip to and fill.
#pragma once

#include "platform/uikit/Geometry.h"
#include "runtime/Runtime.h"

#include <cairo.h>

namespace UIKit {

class UIBezierPath final : public Runtime::NSObject {
public:
    static Runtime::Class* runtimeClass();

    // Circular corners; the radius is kept within 0 and half the shorter side.
    static Runtime::Ref<UIBezierPath> bezierPathWithRoundedRect(CGRect, double cornerRadius);
    static Runtime::Ref<UIBezierPath> bezierPathWithRect(CGRect);

    // Narrows the current image context's clip to the path (for the rest of the context's life).
    void addClip() const;
    // Fills the path in the current image context with the fill colour.
    void fill() const;
    CGRect bounds() const { return m_rect; }

    CGFloat cornerRadius() const { return m_cornerRadius; }
    // Adds the path to a cairo context's current path.
    void appendTo(cairo_t*) const;

private:
    CGRect m_rect;
    CGFloat m_cornerRadius { 0 };
};

} // namespace UIKit
