// Drawing a tree of views into an image, back to front, as the screen would show it.
#pragma once

#include "platform/uikit/Geometry.h"
#include "runtime/ObjC.h"

#include <string>

namespace UIKit {

// Lays the tree out (layoutIfNeeded), then draws the view at the origin and its visible
// subviews at their frames, each as its background colour then its drawRect:. Hidden views
// and their subviews are skipped. The image (a UIImage, autoreleased) has the view's bounds
// size in points; scale 0 is the main screen's. Nil for a nil view or a size no image context
// can take.
id renderView(id view, CGFloat scale = 0);

// Writes the image as a PNG at a host path; false for nil or on failure.
bool writePNG(id image, const std::string& hostPath);

} // namespace UIKit
