// UIBezierPath: the rectangles and rounded rectangles that image contexts clip to and fill.
#pragma once

#include "platform/uikit/Geometry.h"
#include "runtime/ObjC.h"

#include <cairo.h>

namespace UIKit {

// The C++ side of a UIBezierPath instance.
class UIBezierPath {
public:
    static Class runtimeClass();
    static UIBezierPath* from(id);

    // Circular corners; the radius is kept within 0 and half the shorter side. Autoreleased.
    static id bezierPathWithRoundedRect(CGRect, double cornerRadius);
    static id bezierPathWithRect(CGRect);

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
