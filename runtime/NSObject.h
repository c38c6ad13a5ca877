// NSObject, the root class. Class objects are NSObjects too, so the root
// class's instance methods serve messages sent to classes, as they do on the
// platform.
#pragma once

#include "runtime/Object.h"
#include "runtime/Selector.h"

namespace Runtime {

class NSObject : public Object {
public:
    static Class* runtimeClass();

    RefPtr<Object> init() { return RefPtr<Object>(this); }
    bool respondsToSelectorMethod(Selector) const;
    bool isKindOfClass(Object* cls) const;
    bool isEqual(Object* other) const { return other == this; }

    static RefPtr<Object> alloc(Class*);
    static RefPtr<Object> makeNew(Class*);
};

} // namespace Runtime
