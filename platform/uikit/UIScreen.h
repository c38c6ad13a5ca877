// UIScreen: the device's screen, its size in points and its scale (pixels per point).
#pragma once

#include "platform/uikit/Geometry.h"
#include "runtime/Runtime.h"

namespace UIKit {

class UIScreen final : public Runtime::NSObject {
public:
    static Runtime::Class* runtimeClass();

    static Runtime::RefPtr<UIScreen> mainScreen();
    CGRect bounds() const;
    double scale() const;

    // Set by the host from the device profile; until then 375 × 667 points at scale 2. Sizes
    // and scale must be finite and positive (a programmer error otherwise).
    static void configureMainScreen(CGFloat width, CGFloat height, CGFloat scale);
    static CGFloat mainScreenScale();
};

} // namespace UIKit
