#include "platform/uikit/UIFont.h"

#include "platform/foundation/FoundationValue.h"
#include "platform/uikit/UIKitObjects.h"

#include <algorithm>
#include <cmath>

namespace UIKit {

namespace {

constexpr const char* systemFontFamily = "DejaVu Sans";

} // namespace

Class UIFont::runtimeClass() { return ObjC::CxxClass<UIFont>::runtimeClass(); }

UIFont* UIFont::from(id object) { return stateIfKindOf<UIFont>(object); }

id UIFont::create(std::string family, CGFloat pointSize, bool bold)
{
    ObjC::RetainPtr font = ObjC::allocInit(runtimeClass());
    UIFont* state = ObjC::CxxClass<UIFont>::state(font);
    state->m_family = std::move(family);
    state->m_pointSize = std::isnan(pointSize) ? 0 : std::clamp(pointSize, 0.0, maximumPointSize);
    state->m_bold = bold;
    return autoreleased(std::move(font));
}

id UIFont::systemFontOfSize(double pointSize) { return create(systemFontFamily, pointSize, false); }

id UIFont::boldSystemFontOfSize(double pointSize) { return create(systemFontFamily, pointSize, true); }

ObjC::RetainPtr UIFont::familyName() const { return Platform::makeString(m_family); }

} // namespace UIKit
