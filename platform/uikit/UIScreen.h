// UIScreen: the device's screen, its size in points and its scale (pixels per point).
#pragma once

#include "platform/uikit/Geometry.h"
#include "runtime/ObjC.h"

namespace UIKit {

// The C++ side of the UIScreen instance; its state is the process's screen, kept apart.
class UIScreen {
public:
    static Class runtimeClass();

    // The one main screen, made on first use.
    static id mainScreen();
    CGRect bounds() const;
    double scale() const;

    // Set by the host from the device profile; until then 375 × 667 points at scale 2. Sizes
    // and scale must be finite and positive (a programmer error otherwise).
    static void configureMainScreen(CGFloat width, CGFloat height, CGFloat scale);
    static CGRect mainScreenBounds();
    static CGFloat mainScreenScale();
};

} // namespace UIKit
