// Bitmap image contexts, UIKit's C functions: a per-thread stack of contexts, each an image
// surface drawn in points (the context's scale maps points to pixels). Declared as UIKit
// declares them, with nothing included but the geometry, so the system's own code calls them
// as it does on a phone.
#pragma once

#include "platform/foundation/CoreGraphics.h"
#include "runtime/ObjCRuntime.h"

#if defined(__APPLE__)
typedef struct CGContext* CGContextRef;
#else
// The simulated device draws with cairo: a context is cairo's (cairo_t*).
typedef struct _cairo* CGContextRef;
#endif

extern "C" {

// Pushes a context of ceil(size × scale) pixels; scale 0 (or less) is the main screen's.
// It starts transparent, or black when opaque. A size that is not a number, negative, or over
// 8192 × 8192 pixels pushes an empty context, so begin and end still pair up.
void UIGraphicsBeginImageContextWithOptions(CGSize size, BOOL opaque, CGFloat scale);
// Not opaque, scale 1.
void UIGraphicsBeginImageContext(CGSize size);
// A UIImage (autoreleased) copied from what the current context holds, size in points and
// scale as the context's; nil with no context or an empty one.
id UIGraphicsGetImageFromCurrentImageContext(void);
// Pops the current context; does nothing when there is none.
void UIGraphicsEndImageContext(void);
// The current context (user space in points), or null when there is none.
CGContextRef UIGraphicsGetCurrentContext(void);
// Fills the rectangle of the current context with the fill colour (UIColor's setFill).
void UIRectFill(CGRect);
}
