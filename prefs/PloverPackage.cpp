#include "prefs/PloverPackage.h"

#include "platform/process/RunAndReadOutput.h"

using namespace Runtime;

namespace {

void registerPackage()
{
    if (getClass("PloverPackage"))
        return;
    ClassBuilder<PloverPackage>("PloverPackage", "NSObject")
        .classMethod<&PloverPackage::packageWithIdentifier>("packageWithIdentifier:")
        .method<&PloverPackage::version>("version")
        .method<&PloverPackage::setVersion>("setVersion:");
}

const bool s_registered = (addClassRegistrar(&registerPackage), true);

} // namespace

RefPtr<Object> PloverPackage::packageWithIdentifier(Object* identifier)
{
    // The footer is built on the Settings app's main thread: nothing that goes wrong here may
    // escape into it. A failure gives a package without a version.
    RefPtr<Object> package;
    try {
        package = allocInit(getClass("PloverPackage"));
    } catch (...) {
        return nullptr;
    }
    try {
        // The identifier is one argument, unchanged; no shell is involved. A tool that cannot
        // be started answers nothing, like one that prints nothing; output that could not be
        // read whole (too much of it, or no memory left) is not trusted for a version.
        auto result = Platform::runAndReadOutput("/usr/bin/dpkg-query", { "-s", stringValue(identifier).value_or("") }, "/");
        if (!result.complete)
            return package;
        auto fields = parsePackageFields(result.output);
        if (fields) {
            auto version = fields->find("Version");
            if (version != fields->end())
                send(package, "setVersion:", NSString::create(version->second));
        }
    } catch (...) {
        // setVersion: is the last step, so a failure anywhere leaves the version unset.
    }
    return package;
}
