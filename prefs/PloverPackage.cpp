#include "prefs/PloverPackage.h"

#include "platform/foundation/PlatformCalls.h"
#include "runtime/ClassDefinition.h"

namespace {

ObjC::ClassReference const s_packageClass("PloverPackage");
ObjC::ClassReference const s_stringClass("NSString");

Ivar versionIvar()
{
    static Ivar const ivar = ObjC::instanceVariable(s_packageClass.get(), "_version");
    return ivar;
}

id version(id self, SEL) { return ObjC::objectIvar(self, versionIvar()); }

void setVersion(id self, SEL, id version)
{
    static SEL const copy = ObjC::sel("copy");
    id* slot = ObjC::ivarAddress<id>(self, versionIvar());
    if (!slot)
        return;
    id previous = *slot;
    *slot = ObjC::send<id>(version, copy);
    ObjC::release(previous);
}

void dealloc(id self, SEL selector)
{
    if (id* slot = ObjC::ivarAddress<id>(self, versionIvar())) {
        ObjC::release(*slot);
        *slot = nullptr;
    }
    ObjC::sendSuper(self, s_packageClass.get(), selector);
}

id packageWithIdentifier(id, SEL, id identifier)
{
    static SEL const isKindOfClass = ObjC::sel("isKindOfClass:");
    static SEL const objectForKey = ObjC::sel("objectForKey:");
    static SEL const setVersionSelector = ObjC::sel("setVersion:");
    static SEL const autorelease = ObjC::sel("autorelease");
    // The footer is built on the Settings app's main thread: nothing that goes wrong here may
    // escape into it. A failure gives a package without a version.
    ObjC::RetainPtr package;
    try {
        package = ObjC::allocInit(s_packageClass.get());
    } catch (...) {
        return nullptr;
    }
    try {
        // The identifier is one argument, unchanged; no shell is involved. A tool that cannot
        // be started answers nothing, like one that prints nothing; output that could not be
        // read whole (too much of it, or no memory left) is not trusted for a version.
        bool isText = ObjC::send<bool>(identifier, isKindOfClass, s_stringClass.get());
        const char* arguments[] = { "-s", isText ? ObjC::utf8(identifier) : "" };
        id output = PlatformRunAndReadOutput(KESTREL_JAILBREAK_PATH("/usr/bin/dpkg-query"), arguments, 2);
        id recorded = ObjC::send<id>(parsePackageFields(output), objectForKey, ObjC::string("Version"));
        if (recorded)
            ObjC::send(package, setVersionSelector, recorded);
    } catch (...) {
        // setVersion: is the last step, so a failure anywhere leaves the version unset.
    }
    return ObjC::send<id>(package.leak(), autorelease);
}

__attribute__((constructor)) void registerPackageClass()
{
    ObjC::ClassDefinition definition("PloverPackage", ObjC::getClass("NSObject"));
    definition.ivar<id>("_version")
        .classMethod("packageWithIdentifier:", &packageWithIdentifier)
        .method("version", &version)
        .method("setVersion:", &setVersion)
        .method("dealloc", &dealloc);
    definition.registerClass();
}

} // namespace
