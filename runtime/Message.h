// Message sending. Every method is a plain function `R (Object* self, Selector,
// Args...)` whose C++ signature was recorded when it was registered; `send`
// finds it through the receiver's class and checks the signature first.
//
// Object-typed arguments travel as `Object*` (borrowed, like `id`), object
// results as `RefPtr<Object>`; callers may pass any object pointer, Ref or
// RefPtr and may ask for `RefPtr<T>` of a subclass, which is checked.
#pragma once

#include "runtime/Class.h"
#include "runtime/NSException.h"

#include <type_traits>

namespace Runtime {

namespace Detail {

template<typename T> struct IsRefPointer : std::false_type { };
template<typename T> struct IsRefPointer<RefPtr<T>> : std::true_type {
    using Pointee = T;
};
template<typename T> struct IsRefPointer<Ref<T>> : std::true_type {
    using Pointee = T;
};

template<typename T>
concept ObjectPointer = std::is_pointer_v<T> && std::is_base_of_v<Object, std::remove_cv_t<std::remove_pointer_t<T>>>;
template<typename T>
concept ObjectReference = IsRefPointer<T>::value;

// The type an argument travels as.
template<typename T, typename D = std::decay_t<T>> struct Normalize {
    using Type = D;
};
template<typename T, ObjectPointer D> struct Normalize<T, D> {
    using Type = Object*;
};
template<typename T, ObjectReference D> struct Normalize<T, D> {
    using Type = Object*;
};
template<typename T> struct Normalize<T, std::nullptr_t> {
    using Type = Object*;
};
template<typename T> using Normalized = typename Normalize<T>::Type;

// The type a result travels as.
template<typename R, typename D = std::decay_t<R>> struct NormalizeResult {
    using Type = D;
};
template<typename R, ObjectPointer D> struct NormalizeResult<R, D> {
    using Type = RefPtr<Object>;
};
template<typename R, ObjectReference D> struct NormalizeResult<R, D> {
    using Type = RefPtr<Object>;
};
template<typename R> using NormalizedResult = typename NormalizeResult<R>::Type;

template<typename T> Object* toObject(T* object)
    requires std::is_base_of_v<Object, std::remove_cv_t<T>>
{
    return const_cast<Object*>(static_cast<const Object*>(object));
}
template<typename T> Object* toObject(const RefPtr<T>& object) { return toObject(object.get()); }
template<typename T> Object* toObject(const Ref<T>& object) { return toObject(object.ptr()); }
inline Object* toObject(std::nullptr_t) { return nullptr; }

template<typename T> decltype(auto) toArgument(T&& value)
{
    if constexpr (std::is_same_v<Normalized<T>, Object*> && !std::is_same_v<std::remove_cvref_t<T>, Object*>)
        return toObject(value);
    else
        return std::forward<T>(value);
}

[[noreturn]] void throwWrongClass(const Object*, const char* wanted);

// An object of the runtime's choosing handed to code that declared a subclass.
template<typename T> T* checkedDowncast(Object* object)
{
    if constexpr (std::is_same_v<T, Object>)
        return object;
    else {
        if (!object)
            return nullptr;
        if (auto* result = dynamic_cast<T*>(object))
            return result;
        throwWrongClass(object, typeid(T).name());
    }
}

template<typename R> R fromResult(NormalizedResult<R>&& value)
{
    if constexpr (IsRefPointer<std::remove_cvref_t<R>>::value && !std::is_same_v<std::remove_cvref_t<R>, RefPtr<Object>>) {
        using T = typename IsRefPointer<std::remove_cvref_t<R>>::Pointee;
        return RefPtr<T>(checkedDowncast<T>(value.get()));
    } else
        return std::move(value);
}

template<typename R> R zeroResult()
{
    if constexpr (!std::is_void_v<R>)
        return R {};
}

} // namespace Detail

// The object as T*, null for null; an object of another class throws SignatureMismatch.
using Detail::checkedDowncast;

// Raises NSInvalidArgumentException "unrecognized selector sent to instance".
[[noreturn]] void throwUnrecognizedSelector(const Object* receiver, Selector);

namespace Detail {

// Calls the method a lookup found, after checking it takes these arguments and
// gives this result; no method means the receiver does not understand the selector.
template<typename R, typename... Args> R invoke(const Method* method, Object* receiver, Selector selector, Args&&... args)
{
    using Result = NormalizedResult<R>;
    using Function = Result (*)(Object*, Selector, Normalized<Args>...);
    if (!method) [[unlikely]]
        throwUnrecognizedSelector(receiver, selector);
    method->checkSignature<Result(Normalized<Args>...)>();
    auto function = reinterpret_cast<Function>(method->implementation());
    if constexpr (std::is_void_v<R>)
        function(receiver, selector, toArgument(std::forward<Args>(args))...);
    else
        return fromResult<R>(function(receiver, selector, toArgument(std::forward<Args>(args))...));
}

} // namespace Detail

template<typename Receiver> Object* receiverObject(const Receiver& receiver) { return Detail::toObject(receiver); }

// [receiver selector:args...]. A nil receiver does nothing and yields the zero
// value of R (nil, NO, 0, an all-zero struct).
template<typename R = void, typename Receiver, typename... Args> R send(const Receiver& receiver, Selector selector, Args&&... args)
{
    Object* object = Detail::toObject(receiver);
    if (!object)
        return Detail::zeroResult<R>();
    return Detail::invoke<R>(object->isa()->lookup(selector), object, selector, std::forward<Args>(args)...);
}

template<typename R = void, typename Receiver, typename... Args>
R send(const Receiver& receiver, std::string_view selector, Args&&... args)
{
    return send<R>(receiver, sel(selector), std::forward<Args>(args)...);
}
template<typename R = void, typename Receiver, typename... Args>
R send(const Receiver& receiver, const char* selector, Args&&... args)
{
    return send<R>(receiver, sel(selector), std::forward<Args>(args)...);
}

// [super selector:args...] from a method of `cls`: the lookup starts at cls's
// superclass, whatever the receiver's own class overrides (hooks there are seen).
template<typename R = void, typename... Args> R sendSuper(Object* receiver, Class* cls, Selector selector, Args&&... args)
{
    if (!receiver)
        return Detail::zeroResult<R>();
    Class* superclass = cls ? cls->superclass() : nullptr;
    return Detail::invoke<R>(superclass ? superclass->lookup(selector) : nullptr, receiver, selector, std::forward<Args>(args)...);
}
template<typename R = void, typename... Args> R sendSuper(Object* receiver, Class* cls, const char* selector, Args&&... args)
{
    return sendSuper<R>(receiver, cls, sel(selector), std::forward<Args>(args)...);
}

// [[cls alloc] init].
RefPtr<Object> allocInit(Class*);

} // namespace Runtime
