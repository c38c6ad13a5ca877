// Drawing a tree of views into an image, back to front, as the screen would show it.
#pragma once

#include "platform/uikit/Geometry.h"
#include "runtime/RefPtr.h"

#include <string>

namespace UIKit {

class UIImage;
class UIView;

// Lays the tree out (layoutIfNeeded), then draws the view at the origin and its visible
// subviews at their frames, each as its background colour then its drawContent. Hidden views
// and their subviews are skipped. The image has the view's bounds size in points; scale 0 is
// the main screen's. Nil for a nil view or a size no image context can take.
Runtime::RefPtr<UIImage> renderView(UIView*, CGFloat scale = 0);

// Writes the image as a PNG at a host path; false for nil or on failure.
bool writePNG(UIImage*, const std::string& hostPath);

} // namespace UIKit
