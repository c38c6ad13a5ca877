#include "runtime/Message.h"

#include <cstdio>
#include <cxxabi.h>

namespace Runtime {

void throwUnrecognizedSelector(const Object* receiver, Selector selector)
{
    Class* cls = objectGetClass(receiver);
    bool isClass = cls->isMetaclass();
    char address[32];
    std::snprintf(address, sizeof(address), "%p", static_cast<const void*>(receiver));
    throw NSException(NSInvalidArgumentException,
        std::string(isClass ? "+[" : "-[") + cls->name() + " " + std::string(selector.name())
            + "]: unrecognized selector sent to " + (isClass ? "class " : "instance ") + address);
}

void Detail::throwWrongClass(const Object* object, const char* wanted)
{
    int status = 0;
    char* readable = abi::__cxa_demangle(wanted, nullptr, nullptr, &status);
    std::string name = status == 0 && readable ? readable : wanted;
    std::free(readable);
    throw SignatureMismatch("an instance of " + objectGetClass(object)->name() + " was handed to code expecting " + name);
}

RefPtr<Object> allocInit(Class* cls)
{
    auto allocated = send<RefPtr<Object>>(cls, sel("alloc"));
    return send<RefPtr<Object>>(allocated, sel("init"));
}

} // namespace Runtime
