// UIFont: the system font (DejaVu Sans here) at a point size. One point is one unit of the
// drawing space, so a 35-point font measures like a 35-pixel font at scale 1.
#pragma once

#include "platform/uikit/Geometry.h"
#include "runtime/ObjC.h"

#include <string>

namespace UIKit {

// The C++ side of a UIFont instance.
class UIFont {
public:
    static Class runtimeClass();
    static UIFont* from(id);
    // Sizes are kept within 0...maximumPointSize; NaN becomes 0, which draws nothing.
    static constexpr CGFloat maximumPointSize = 2048;
    // Autoreleased.
    static id create(std::string family, CGFloat pointSize, bool bold);

    static id systemFontOfSize(double pointSize);
    static id boldSystemFontOfSize(double pointSize);

    double pointSize() const { return m_pointSize; }
    ObjC::RetainPtr familyName() const;

    const std::string& family() const { return m_family; }
    bool isBold() const { return m_bold; }

private:
    std::string m_family;
    CGFloat m_pointSize { 0 };
    bool m_bold { false };
};

} // namespace UIKit
