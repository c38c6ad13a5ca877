// A companion library whose window class raises while the engine hooks it: it has
// handleTapFrom: alone, and asking it for handleDoubleTapFrom: raises. What it raises: an
// NSException, or one of the class TestException when the test process has one, or a C++
// exception when the test process has a class named TestRaisesCxxException.
#include "runtime/ClassDefinition.h"

#include <stdexcept>

using namespace ObjC;

namespace {

void handleTapFrom(id, SEL, id) { }

BOOL resolveInstanceMethod(id, SEL, SEL selector)
{
    if (selector != sel("handleDoubleTapFrom:"))
        return NO;
    if (getClass("TestRaisesCxxException"))
        throw std::runtime_error("not an Objective-C exception");
    Class exceptionClass = getClass("TestException") ? getClass("TestException") : getClass("NSException");
    id exception = send<id>(exceptionClass, sel("exceptionWithName:reason:userInfo:"),
        string("NSInternalInconsistencyException"), string("raised while hooking"), static_cast<id>(nullptr));
    send(exception, sel("raise"));
    return NO;
}

__attribute__((constructor)) void raisingLoad()
{
    ClassDefinition definition("PloverAlwaysOnWindow", getClass("NSObject"));
    definition.method("handleTapFrom:", &handleTapFrom).classMethod("resolveInstanceMethod:", &resolveInstanceMethod);
    definition.registerClass();
}

} // namespace
