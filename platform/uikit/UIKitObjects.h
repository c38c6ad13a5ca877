// What the UIKit and Preferences stand-ins share in their C++ halves: telling an object's
// kind, handing out autoreleased results, and raising Foundation's exceptions.
#pragma once

#include "runtime/CxxClass.h"

#include <vector>

namespace UIKit {

// -[NSObject isKindOfClass:]; NO for nil.
bool isKindOf(id object, Class);

// The C++ state of an instance of T's class (or of a subclass), or null for nil and other objects.
template<typename T> T* stateIfKindOf(id object)
{
    Class cls = ObjC::CxxClass<T>::runtimeClass();
    return cls && isKindOf(object, cls) ? ObjC::CxxClass<T>::state(object) : nullptr;
}

// Gives an owned object up to the current autorelease pool.
id autoreleased(ObjC::RetainPtr&&);

// A new NSArray of the objects, in order (autoreleased).
id arrayOf(const std::vector<ObjC::RetainPtr>&);

// [[NSException exceptionWithName:name reason:reason userInfo:nil] raise].
[[noreturn]] void raiseException(const char* name, const char* reason);

} // namespace UIKit
