// Bitmap image contexts, UIKit's C functions: a per-thread stack of contexts, each an image
// surface drawn in points (the context's scale maps points to pixels).
#pragma once

#include "platform/uikit/Geometry.h"
#include "runtime/RefPtr.h"

#include <cairo.h>

namespace UIKit {
class UIImage;
}

// Pushes a context of ceil(size × scale) pixels; scale 0 (or less) is the main screen's.
// It starts transparent, or black when opaque. A size that is not a number, negative, or over
// 8192 × 8192 pixels pushes an empty context, so begin and end still pair up.
void UIGraphicsBeginImageContextWithOptions(CGSize size, bool opaque, CGFloat scale);
// Not opaque, scale 1.
void UIGraphicsBeginImageContext(CGSize size);
// A copy of what the current context holds, size in points and scale as the context's; nil
// with no context or an empty one.
Runtime::RefPtr<UIKit::UIImage> UIGraphicsGetImageFromCurrentImageContext();
// Pops the current context; does nothing when there is none.
void UIGraphicsEndImageContext();
// The current context's cairo context (user space in points), or null when there is none.
cairo_t* UIGraphicsGetCurrentContext();
// Fills the rectangle of the current context with the fill colour (UIColor's setFill).
void UIRectFill(CGRect);
