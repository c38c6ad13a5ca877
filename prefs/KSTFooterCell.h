// The pane's footer, KSTFooterCell (a PSTableCell): one small gray line with a notice and the
// version the package database records for the product, read afresh at every creation. Its
// label is the instance variable mainTitleLabel. The class is registered when the bundle loads.
#pragma once

#include "runtime/ObjC.h"

// The footer's text (an NSString, autoreleased) for a version (nil: not recorded).
id footerText(id version);
