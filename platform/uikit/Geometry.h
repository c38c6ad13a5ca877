// Geometry for views and drawing: CoreGraphics' types, also named from UIKit.
#pragma once

#include "platform/foundation/CoreGraphics.h"

namespace UIKit {
using ::CGFloat;
using ::CGPoint;
using ::CGRect;
using ::CGSize;
} // namespace UIKit
