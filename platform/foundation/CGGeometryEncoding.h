// How the runtime's type encodings spell CoreGraphics' structs, for messages that carry them
// (hitTest:withEvent:, a view's frame).
#pragma once

#include "platform/foundation/CGGeometry.h"
#include "runtime/ObjC.h"

namespace ObjC {

template<> struct TypeEncoding<CGPoint> {
    static constexpr const char* value = "{CGPoint=dd}";
};
template<> struct TypeEncoding<CGSize> {
    static constexpr const char* value = "{CGSize=dd}";
};
template<> struct TypeEncoding<CGRect> {
    static constexpr const char* value = "{CGRect={CGPoint=dd}{CGSize=dd}}";
};

} // namespace ObjC
