// The UIKit stand-in: views, labels, images, bitmap image contexts, the screen and the app,
// drawn and measured with cairo and pango. Its classes are real Objective-C classes,
// registered in the runtime when the library loads; URLs are Foundation's own NSURL.
#pragma once

#include "platform/uikit/Geometry.h"
#include "platform/uikit/UIApplication.h"
#include "platform/uikit/UIBezierPath.h"
#include "platform/uikit/UIColor.h"
#include "platform/uikit/UIFont.h"
#include "platform/uikit/UIGraphics.h"
#include "platform/uikit/UIImage.h"
#include "platform/uikit/UIImageView.h"
#include "platform/uikit/UILabel.h"
#include "platform/uikit/UIScreen.h"
#include "platform/uikit/UIView.h"
#include "platform/uikit/ViewRenderer.h"

namespace UIKit {

// Registers the UIKit classes unless they are there already. Libraries whose classes build on
// UIKit's call it before registering their own, whatever order the libraries' initialisers
// run in.
void registerUIKitClasses();

} // namespace UIKit
