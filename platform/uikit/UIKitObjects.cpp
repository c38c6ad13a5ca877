#include "platform/uikit/UIKitObjects.h"

namespace UIKit {

bool isKindOf(id object, Class cls)
{
    static SEL const isKindOfClass = ObjC::sel("isKindOfClass:");
    return ObjC::send<bool>(object, isKindOfClass, cls);
}

id autoreleased(ObjC::RetainPtr&& object)
{
    static SEL const autorelease = ObjC::sel("autorelease");
    return ObjC::send<id>(object.leak(), autorelease);
}

id arrayOf(const std::vector<ObjC::RetainPtr>& objects)
{
    static SEL const arrayWithCapacity = ObjC::sel("arrayWithCapacity:");
    static SEL const addObject = ObjC::sel("addObject:");
    id array = ObjC::send<id>(ObjC::getClass("NSMutableArray"), arrayWithCapacity, static_cast<unsigned long>(objects.size()));
    for (auto& object : objects)
        ObjC::send(array, addObject, object.get());
    return array;
}

void raiseException(const char* name, const char* reason)
{
    static SEL const withName = ObjC::sel("exceptionWithName:reason:userInfo:");
    static SEL const raise = ObjC::sel("raise");
    id exception = ObjC::send<id>(ObjC::getClass("NSException"), withName, ObjC::string(name), ObjC::string(reason), nullptr);
    ObjC::send(exception, raise);
    __builtin_unreachable();
}

} // namespace UIKit
