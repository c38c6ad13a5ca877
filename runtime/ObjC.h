// The typed C++ face of the Objective-C runtime: the only way engine/ and prefs/ reach it.
// Classes and selectors by name, instance variables, message sends called through the exact
// function type of the call, owning and weak pointers. Written against the runtime's C API
// and the C++ language alone (<cstddef>, <cstdint>, <type_traits>), so it builds for a phone.
//
//     RetainPtr manager = ObjC::send<id>(ObjC::getClass("SBLockScreenManager"), ObjC::sel("sharedInstance"));
//     bool locked = ObjC::send<bool>(manager, ObjC::sel("isUILocked"));
//
// A send to nil yields the zero value of its result type (floating point and structs
// included, which GCC's nil method leaves undefined). In debug builds every send first
// checks its C++ types against the method's type encoding and stops the process with a
// message when they disagree. A selector the receiver does not recognise raises as the
// runtime does; C++ `catch (...)` catches it.
#pragma once

#include "runtime/ObjCRuntime.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>

#if !defined(NDEBUG) && !defined(KESTREL_UNCHECKED_SENDS)
#define KESTREL_CHECKED_SENDS 1
#else
#define KESTREL_CHECKED_SENDS 0
#endif

namespace ObjC {

class RetainPtr;

// ---- Type encodings ------------------------------------------------------------------------

// The runtime's encoding of a C++ type, as a method's type string spells it. Specialise it
// beside a struct that travels through messages (CGPoint, CGRect).
template<typename T, typename = void> struct TypeEncoding;

#define KESTREL_OBJC_ENCODING(Type, Code)                                                                      \
    template<> struct TypeEncoding<Type> {                                                                      \
        static constexpr const char* value = Code;                                                              \
    }
KESTREL_OBJC_ENCODING(void, "v");
KESTREL_OBJC_ENCODING(id, "@");
KESTREL_OBJC_ENCODING(Class, "#");
KESTREL_OBJC_ENCODING(SEL, ":");
KESTREL_OBJC_ENCODING(char, "c");
KESTREL_OBJC_ENCODING(signed char, "c");
KESTREL_OBJC_ENCODING(unsigned char, "C");
KESTREL_OBJC_ENCODING(short, "s");
KESTREL_OBJC_ENCODING(unsigned short, "S");
KESTREL_OBJC_ENCODING(int, "i");
KESTREL_OBJC_ENCODING(unsigned, "I");
KESTREL_OBJC_ENCODING(long, "q");
KESTREL_OBJC_ENCODING(unsigned long, "Q");
KESTREL_OBJC_ENCODING(long long, "q");
KESTREL_OBJC_ENCODING(unsigned long long, "Q");
KESTREL_OBJC_ENCODING(float, "f");
KESTREL_OBJC_ENCODING(double, "d");
KESTREL_OBJC_ENCODING(const char*, "*");
KESTREL_OBJC_ENCODING(char*, "*");
KESTREL_OBJC_ENCODING(void*, "^v");
KESTREL_OBJC_ENCODING(const void*, "^v");
// An out parameter for an object (an NSError**).
KESTREL_OBJC_ENCODING(id*, "^@");
#if KESTREL_OBJC_APPLE
// Apple's arm64 BOOL is bool itself.
template<> struct TypeEncoding<bool> {
    static constexpr const char* value = "B";
};
#else
// C++ bool crosses as the runtime's BOOL.
template<> struct TypeEncoding<bool> {
    static constexpr const char* value = TypeEncoding<BOOL>::value;
};
#endif
#undef KESTREL_OBJC_ENCODING

namespace Detail {

// The type a C++ value crosses the message boundary as: bool as BOOL, an owning pointer as
// its id, everything else as itself.
template<typename T> struct Boundary {
    using Type = T;
};
template<> struct Boundary<bool> {
    using Type = BOOL;
};
template<> struct Boundary<RetainPtr> {
    using Type = id;
};
template<> struct Boundary<std::nullptr_t> {
    using Type = id;
};
template<typename T> using BoundaryType = typename Boundary<std::remove_cv_t<std::remove_reference_t<T>>>::Type;

// Whether a method type string ("C28@0:8@16f24", qualifiers and offsets included) gives
// exactly these parts: the result's encoding, then "@", ":" and each argument's.
bool encodingMatches(const char* types, const char* const* parts, size_t count);

// The encoding parts of a call `R (id, SEL, A...)`.
template<typename R, typename... A> struct SignatureParts {
    static constexpr const char* parts[] = { TypeEncoding<BoundaryType<R>>::value, "@", ":",
        TypeEncoding<BoundaryType<A>>::value... };
    static constexpr size_t count = sizeof...(A) + 3;
};

#if KESTREL_OBJC_GNU
// Reports a send whose C++ types disagree with the method and stops the process.
[[noreturn]] void signatureMismatch(id receiver, SEL, const char* methodTypes, const char* const* parts, size_t count);
#else
[[noreturn]] inline void signatureMismatch(id, SEL, const char*, const char* const*, size_t) { __builtin_trap(); }
#endif

template<typename R, typename... A> inline void checkSignature(id receiver, SEL selector)
{
    Method method = class_getInstanceMethod(object_getClass(receiver), selector);
    // No method: the runtime's forwarding answers, and raises for an unknown selector.
    if (!method)
        return;
    using Parts = SignatureParts<R, A...>;
    const char* types = method_getTypeEncoding(method);
    if (!encodingMatches(types, Parts::parts, Parts::count)) [[unlikely]]
        signatureMismatch(receiver, selector, types, Parts::parts, Parts::count);
}

template<typename T> inline BoundaryType<T> toBoundary(T&& value);

// Casts between function pointer types (an IMP and the exact type of a method), through the
// one type every compiler accepts as standing for any function.
template<typename To, typename From> inline To functionCast(From function)
{
    return reinterpret_cast<To>(reinterpret_cast<void (*)()>(function));
}

template<typename R> inline R zeroValue()
{
    if constexpr (!std::is_void_v<R>)
        return R {};
}

template<typename R> inline R fromBoundary(BoundaryType<R> value)
{
    if constexpr (std::is_same_v<R, bool>)
        return value != 0;
    else
        return value;
}

template<typename R, typename... A> using ImplementationOf = BoundaryType<R> (*)(id, SEL, BoundaryType<A>...);

template<typename R, typename... A> inline ImplementationOf<R, A...> lookup(id receiver, SEL selector)
{
#if KESTREL_OBJC_GNU
    return functionCast<ImplementationOf<R, A...>>(objc_msg_lookup(receiver, selector));
#else
    (void)receiver;
    (void)selector;
    return functionCast<ImplementationOf<R, A...>>(&objc_msgSend);
#endif
}

} // namespace Detail

// ---- Classes, selectors, objects -----------------------------------------------------------

// objc_getClass: a class of fixed name, or Nil.
inline Class getClass(const char* name) { return objc_getClass(name); }
// NSClassFromString, for names chosen at run time.
Class classFromString(const char* name);
inline SEL sel(const char* name) { return sel_registerName(name); }
inline const char* selectorName(SEL selector) { return sel_getName(selector); }
inline id toId(Class cls) { return reinterpret_cast<id>(cls); }
inline Class classOf(id object) { return object ? object_getClass(object) : nullptr; }

// A class looked up on first use and kept once found (a class is never unregistered).
class ClassReference {
public:
    constexpr explicit ClassReference(const char* name)
        : m_name(name)
    {
    }
    Class get() const
    {
        if (!m_class)
            m_class = objc_getClass(m_name);
        return m_class;
    }
    operator Class() const { return get(); }

private:
    const char* m_name;
    mutable Class m_class { nullptr };
};

// ---- Message sends -------------------------------------------------------------------------

// [receiver selector:args...], through the exact function type R (id, SEL, A...).
template<typename R = void, typename... A> inline R send(id receiver, SEL selector, A&&... args)
{
    if (!receiver)
        return Detail::zeroValue<R>();
#if KESTREL_CHECKED_SENDS
    Detail::checkSignature<R, A...>(receiver, selector);
#endif
    auto implementation = Detail::lookup<R, A...>(receiver, selector);
    if constexpr (std::is_void_v<R>)
        implementation(receiver, selector, Detail::toBoundary(static_cast<A&&>(args))...);
    else
        return Detail::fromBoundary<R>(implementation(receiver, selector, Detail::toBoundary(static_cast<A&&>(args))...));
}
template<typename R = void, typename... A> inline R send(Class receiver, SEL selector, A&&... args)
{
    return send<R>(toId(receiver), selector, static_cast<A&&>(args)...);
}
template<typename R = void, typename... A> inline R send(const RetainPtr& receiver, SEL selector, A&&... args);

// [super selector:args...] from a method of `cls`: the lookup starts at cls's superclass.
template<typename R = void, typename... A> inline R sendSuper(id receiver, Class cls, SEL selector, A&&... args)
{
    if (!receiver)
        return Detail::zeroValue<R>();
    Class superclass = class_getSuperclass(cls);
    using Function = Detail::ImplementationOf<R, A...>;
    auto implementation = Detail::functionCast<Function>(class_getMethodImplementation(superclass, selector));
    if constexpr (std::is_void_v<R>)
        implementation(receiver, selector, Detail::toBoundary(static_cast<A&&>(args))...);
    else
        return Detail::fromBoundary<R>(implementation(receiver, selector, Detail::toBoundary(static_cast<A&&>(args))...));
}

bool respondsToSelector(id, SEL);

// ---- Instance variables --------------------------------------------------------------------

// class_getInstanceVariable: by name, on the class and its superclasses; Nil when none.
inline Ivar instanceVariable(Class cls, const char* name) { return cls ? class_getInstanceVariable(cls, name) : nullptr; }
// The object an object-typed variable holds; nil for a nil object or variable.
inline id objectIvar(id object, Ivar ivar) { return object && ivar ? object_getIvar(object, ivar) : nullptr; }
// An object's variable read by name; nil when its class has no such variable.
inline id objectIvar(id object, const char* name) { return objectIvar(object, instanceVariable(classOf(object), name)); }

// The address of a variable of type T in object (checked against its encoding in debug
// builds); null for a nil object or variable.
template<typename T> inline T* ivarAddress(id object, Ivar ivar)
{
    if (!object || !ivar)
        return nullptr;
#if KESTREL_CHECKED_SENDS
    const char* part = TypeEncoding<Detail::BoundaryType<T>>::value;
    if (!Detail::encodingMatches(ivar_getTypeEncoding(ivar), &part, 1))
        Detail::signatureMismatch(object, nullptr, ivar_getTypeEncoding(ivar), &part, 1);
#endif
    return reinterpret_cast<T*>(reinterpret_cast<char*>(object) + ivar_getOffset(ivar));
}

// ---- Ownership -----------------------------------------------------------------------------

void retain(id);
void release(id);

// A strong reference: retains what it is given, releases it when it lets go.
class RetainPtr {
public:
    RetainPtr() = default;
    RetainPtr(std::nullptr_t) { }
    RetainPtr(id object)
        : m_object(object)
    {
        retain(m_object);
    }
    RetainPtr(const RetainPtr& other)
        : RetainPtr(other.m_object)
    {
    }
    RetainPtr(RetainPtr&& other) noexcept
        : m_object(other.leak())
    {
    }
    ~RetainPtr() { release(m_object); }
    RetainPtr& operator=(RetainPtr other) noexcept
    {
        id held = m_object;
        m_object = other.m_object;
        other.m_object = held;
        return *this;
    }

    id get() const { return m_object; }
    operator id() const { return m_object; }
    explicit operator bool() const { return m_object; }
    // Gives up ownership without releasing.
    id leak()
    {
        id object = m_object;
        m_object = nullptr;
        return object;
    }

    friend RetainPtr adopt(id);

private:
    id m_object { nullptr };
};

// Takes over a reference the caller owns (from alloc, new, copy or retain).
inline RetainPtr adopt(id object)
{
    RetainPtr pointer;
    pointer.m_object = object;
    return pointer;
}

// [[cls alloc] init], owned.
RetainPtr allocInit(Class);

// A zeroing weak reference: reads nil once the object has begun to deallocate. It lives
// where it was made; copies read the same object.
class WeakPtr {
public:
    WeakPtr() { objc_initWeak(&m_location, nullptr); }
    explicit WeakPtr(id object) { objc_initWeak(&m_location, object); }
    WeakPtr(const WeakPtr& other)
    {
        RetainPtr object = other.get();
        objc_initWeak(&m_location, object.get());
    }
    WeakPtr& operator=(const WeakPtr& other)
    {
        RetainPtr object = other.get();
        objc_storeWeak(&m_location, object.get());
        return *this;
    }
    ~WeakPtr() { objc_destroyWeak(&m_location); }

    // The object, strongly held, or nil.
    RetainPtr get() const { return adopt(objc_loadWeakRetained(&m_location)); }

private:
    mutable id m_location { nullptr };
};

// ---- Foundation values ---------------------------------------------------------------------

// An NSString of UTF-8 text (autoreleased); nil for null.
id string(const char* utf8);
// The UTF-8 text of an NSString (valid as long as the string and the current autorelease
// pool); null for nil.
const char* utf8(id string);
bool isEqualToString(id string, const char* utf8);
// An NSNumber (autoreleased).
id number(long long);
id number(double);
id boolNumber(bool);

// An autorelease pool for the scope; every thread that runs Foundation code needs one.
class AutoreleasePool {
public:
    AutoreleasePool();
    ~AutoreleasePool();
    AutoreleasePool(const AutoreleasePool&) = delete;
    AutoreleasePool& operator=(const AutoreleasePool&) = delete;

private:
    id m_pool;
};

// ---- Definitions that needed RetainPtr -----------------------------------------------------

namespace Detail {

template<typename T> inline BoundaryType<T> toBoundary(T&& value)
{
    using Plain = std::remove_cv_t<std::remove_reference_t<T>>;
    if constexpr (std::is_same_v<Plain, RetainPtr>)
        return value.get();
    else if constexpr (std::is_same_v<Plain, std::nullptr_t>)
        return nullptr;
    else if constexpr (std::is_same_v<Plain, bool>)
        return value ? BOOL(1) : BOOL(0);
    else
        return static_cast<T&&>(value);
}

} // namespace Detail

template<typename R, typename... A> inline R send(const RetainPtr& receiver, SEL selector, A&&... args)
{
    return send<R>(receiver.get(), selector, static_cast<A&&>(args)...);
}

} // namespace ObjC
