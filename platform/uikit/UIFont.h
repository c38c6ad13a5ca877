// UIFont: the system font (DejaVu Sans here) at a point size. One point is one unit of the
// drawing space, so a 35-point font measures like a 35-pixel font at scale 1.
#pragma once

#include "platform/uikit/Geometry.h"
#include "runtime/Runtime.h"

#include <string>

namespace UIKit {

class UIFont final : public Runtime::NSObject {
public:
    static Runtime::Class* runtimeClass();
    // Sizes are kept within 0...maximumPointSize; NaN becomes 0, which draws nothing.
    static constexpr CGFloat maximumPointSize = 2048;
    static Runtime::Ref<UIFont> create(std::string family, CGFloat pointSize, bool bold);

    static Runtime::Ref<UIFont> systemFontOfSize(double pointSize);
    static Runtime::Ref<UIFont> boldSystemFontOfSize(double pointSize);

    double pointSize() const { return m_pointSize; }
    Runtime::Ref<Runtime::NSString> familyName() const { return Runtime::NSString::create(m_family); }

    const std::string& family() const { return m_family; }
    bool isBold() const { return m_bold; }

private:
    std::string m_family;
    CGFloat m_pointSize { 0 };
    bool m_bold { false };
};

} // namespace UIKit
