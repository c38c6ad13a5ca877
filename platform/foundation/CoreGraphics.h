// CoreGraphics for the platform's own drawing code: the geometry (CGGeometry.h) and the
// C library's mathematics its users work it with.
#pragma once

#include "platform/foundation/CGGeometry.h"

#include <cmath>
