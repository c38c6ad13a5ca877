// Defining a real Objective-C class from C++, through the runtime's own calls
// (objc_allocateClassPair, class_addIvar, class_addMethod, objc_registerClassPair), with each
// method's type encoding worked out from its C++ type:
//
//     ObjC::ClassDefinition definition("PloverKestrel", ObjC::getClass("NSObject"));
//     definition.ivar<BOOL>("_flashlightOn");
//     definition.method("flashlightOn", &flashlightOn);        // BOOL flashlightOn(id, SEL)
//     definition.classMethod("sharedInstance", &sharedInstance);
//     Class cls = definition.registerClass();
//
// Functions take the runtime's own types (id, SEL, BOOL), as a method implementation does.
#pragma once

#include "runtime/ObjC.h"

namespace ObjC {

namespace Detail {

// The full type string ("C28@0:8@16f24") of parts whose sizes are given, made once and kept.
const char* methodTypes(const char* const* parts, const size_t* sizes, size_t count);

template<typename T> constexpr size_t argumentSize()
{
    if constexpr (std::is_void_v<T>)
        return 0;
    else
        return sizeof(T);
}

template<typename R, typename... A> const char* methodTypesOf()
{
    // (Where BOOL is bool, as on Apple's arm64, there is nothing to tell apart.)
    static_assert(std::is_same_v<BOOL, bool> || !(std::is_same_v<R, bool> || ... || std::is_same_v<A, bool>),
        "the runtime passes BOOL, not bool: declare the implementation with BOOL");
    using Parts = SignatureParts<R, A...>;
    static constexpr size_t sizes[] = { argumentSize<R>(), sizeof(id), sizeof(SEL), argumentSize<A>()... };
    static const char* const types = methodTypes(Parts::parts, sizes, Parts::count);
    return types;
}

constexpr uint8_t log2Alignment(size_t alignment)
{
    uint8_t power = 0;
    while ((size_t(1) << power) < alignment)
        ++power;
    return power;
}

} // namespace Detail

class ClassDefinition {
public:
    // A class of that name under superclass; invalid (and every call a no-op) when the name
    // is taken or the superclass is Nil.
    ClassDefinition(const char* name, Class superclass)
        : m_class(superclass ? objc_allocateClassPair(superclass, name, 0) : nullptr)
    {
    }
    ClassDefinition(const ClassDefinition&) = delete;
    ClassDefinition& operator=(const ClassDefinition&) = delete;

    bool isValid() const { return m_class; }
    Class get() const { return m_class; }

    template<typename R, typename... A> ClassDefinition& method(const char* selector, R (*function)(id, SEL, A...))
    {
        if (m_class)
            class_addMethod(m_class, sel(selector), ObjC::Detail::functionCast<IMP>(function), Detail::methodTypesOf<R, A...>());
        return *this;
    }
    template<typename R, typename... A> ClassDefinition& classMethod(const char* selector, R (*function)(id, SEL, A...))
    {
        if (m_class)
            class_addMethod(object_getClass(toId(m_class)), sel(selector), ObjC::Detail::functionCast<IMP>(function),
                Detail::methodTypesOf<R, A...>());
        return *this;
    }
    // An instance variable of a runtime type (id, BOOL, a number, a pointer).
    template<typename T> ClassDefinition& ivar(const char* name)
    {
        if (m_class)
            class_addIvar(m_class, name, sizeof(T), Detail::log2Alignment(alignof(T)), TypeEncoding<T>::value);
        return *this;
    }
    // An instance variable of raw storage, for state the runtime does not look into.
    ClassDefinition& storage(const char* name, size_t size, size_t alignment, const char* encoding)
    {
        if (m_class)
            class_addIvar(m_class, name, size, Detail::log2Alignment(alignment), encoding);
        return *this;
    }

    // Registers the class; Nil when the definition was invalid.
    Class registerClass()
    {
        if (m_class)
            objc_registerClassPair(m_class);
        return m_class;
    }

private:
    Class m_class;
};

} // namespace ObjC
