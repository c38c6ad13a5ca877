// UIColor: an sRGB colour with straight (not premultiplied) alpha, components 0...1.
#pragma once

#include "platform/uikit/Geometry.h"
#include "runtime/ObjC.h"

#include <cairo.h>

namespace UIKit {

// The C++ side of a UIColor instance.
class UIColor {
public:
    static Class runtimeClass();
    // The colour an object stands for; null unless it is a UIColor.
    static UIColor* from(id);

    // Components outside 0...1 (or not numbers) are clamped into it. Autoreleased.
    static id create(CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha);

    static id clearColor() { return create(0, 0, 0, 0); }
    static id blackColor() { return create(0, 0, 0, 1); }
    static id whiteColor() { return create(1, 1, 1, 1); }
    static id grayColor() { return create(0.5, 0.5, 0.5, 1); }
    static id lightGrayColor() { return create(2.0 / 3, 2.0 / 3, 2.0 / 3, 1); }
    static id darkGrayColor() { return create(1.0 / 3, 1.0 / 3, 1.0 / 3, 1); }
    static id colorWithWhite(double white, double alpha) { return create(white, white, white, alpha); }
    static id colorWithRed(double red, double green, double blue, double alpha) { return create(red, green, blue, alpha); }

    // The colour the current image context fills with (UIRectFill, -[UIBezierPath fill]).
    void setFill() const;

    CGFloat red() const { return m_red; }
    CGFloat green() const { return m_green; }
    CGFloat blue() const { return m_blue; }
    CGFloat alpha() const { return m_alpha; }

    // Makes this colour cairo's source.
    void applyTo(cairo_t*) const;

private:
    CGFloat m_red { 0 };
    CGFloat m_green { 0 };
    CGFloat m_blue { 0 };
    CGFloat m_alpha { 0 };
};

} // namespace UIKit
