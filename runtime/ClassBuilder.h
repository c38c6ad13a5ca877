// Declaring a runtime class from a C++ class in a few lines:
//
//     ClassBuilder<SBLockScreenManager>("SBLockScreenManager", "NSObject")
//         .classMethod<&SBLockScreenManager::sharedInstance>("sharedInstance")
//         .method<&SBLockScreenManager::isUILocked>("isUILocked")
//         .ivar<&SBLockScreenManager::m_window>("_window");
//
// Member functions become instance methods, static functions class methods (a
// static function whose first parameter is `Class*` receives the class).
// Instances of the class are C++ objects of type T, made by `new T`.
#pragma once

#include "runtime/Message.h"

namespace Runtime {

namespace Detail {

// The thunk's own parameter, handed on (moved) to the C++ function.
template<typename A> decltype(auto) fromArgument(Normalized<A>& value)
{
    if constexpr (ObjectPointer<std::decay_t<A>>)
        return checkedDowncast<std::remove_cv_t<std::remove_pointer_t<std::decay_t<A>>>>(value);
    else
        return static_cast<Normalized<A>&&>(value);
}

template<typename R, typename Call> NormalizedResult<R> callAndNormalize(Call&& call)
{
    if constexpr (std::is_void_v<R>)
        call();
    else
        return NormalizedResult<R>(call());
}

template<auto F, typename T, typename R, typename... A> struct MemberThunk {
    using Signature = NormalizedResult<R>(Normalized<A>...);
    static NormalizedResult<R> call(Object* self, Selector, Normalized<A>... args)
    {
        // Dispatch only reaches this through T's class or a subclass, whose
        // instances are all Ts.
        T* target = static_cast<T*>(self);
        return callAndNormalize<R>([&]() -> R { return (target->*F)(fromArgument<A>(args)...); });
    }
};

template<auto F, typename R, typename... A> struct StaticThunk {
    using Signature = NormalizedResult<R>(Normalized<A>...);
    static NormalizedResult<R> call(Object*, Selector, Normalized<A>... args)
    {
        return callAndNormalize<R>([&]() -> R { return F(fromArgument<A>(args)...); });
    }
};

template<auto F, typename R, typename... A> struct ClassSelfThunk {
    using Signature = NormalizedResult<R>(Normalized<A>...);
    static NormalizedResult<R> call(Object* self, Selector, Normalized<A>... args)
    {
        return callAndNormalize<R>([&]() -> R { return F(static_cast<Class*>(self), fromArgument<A>(args)...); });
    }
};

template<auto F, typename T, typename R, typename... A> MemberThunk<F, T, R, A...> pickThunk(R (T::*)(A...));
template<auto F, typename T, typename R, typename... A> MemberThunk<F, T, R, A...> pickThunk(R (T::*)(A...) const);
template<auto F, typename R, typename... A> StaticThunk<F, R, A...> pickThunk(R (*)(A...));
template<auto F, typename R, typename... A> ClassSelfThunk<F, R, A...> pickThunk(R (*)(Class*, A...));

template<auto F> using ThunkFor = decltype(pickThunk<F>(F));

template<auto M, typename T, typename V> struct IvarThunk {
    static void* address(Object* object) { return &(static_cast<T*>(object)->*M); }
    static RefPtr<Object> getObject(Object* object)
    {
        if constexpr (IsRefPointer<V>::value)
            return RefPtr<Object>(static_cast<T*>(object)->*M);
        else
            return nullptr;
    }
    static void setObject(Object* object, Object* value)
    {
        if constexpr (IsRefPointer<V>::value) {
            using Pointee = typename IsRefPointer<V>::Pointee;
            if constexpr (std::is_same_v<V, RefPtr<Pointee>>)
                static_cast<T*>(object)->*M = RefPtr<Pointee>(checkedDowncast<Pointee>(value));
            else
                throw SignatureMismatch("a Ref instance variable cannot be set to nil");
        }
    }
};

template<auto M, typename T, typename V> IvarThunk<M, T, V> pickIvarThunk(V T::*);
template<auto M> using IvarThunkFor = decltype(pickIvarThunk<M>(M));
template<typename T, typename V> V memberType(V T::*);

} // namespace Detail

template<typename T> class ClassBuilder {
public:
    ClassBuilder(std::string_view name, Class* superclass)
        : m_class(allocateClass(name, superclass, &allocate))
    {
        if (!m_class)
            throw std::logic_error("cannot register class \"" + std::string(name) + "\": the name is empty or taken");
    }
    ClassBuilder(std::string_view name, std::string_view superclassName)
        : ClassBuilder(name, requireClass(superclassName))
    {
    }

    template<auto F> ClassBuilder& method(std::string_view selector)
    {
        addTo(m_class, selector, &Detail::ThunkFor<F>::call, typeid(typename Detail::ThunkFor<F>::Signature));
        return *this;
    }
    template<auto F> ClassBuilder& classMethod(std::string_view selector)
    {
        addTo(m_class->metaclass(), selector, &Detail::ThunkFor<F>::call,
            typeid(typename Detail::ThunkFor<F>::Signature));
        return *this;
    }
    template<auto M> ClassBuilder& ivar(std::string_view name)
    {
        using Thunk = Detail::IvarThunkFor<M>;
        using Value = decltype(Detail::memberType(M));
        m_class->addIvar(std::string(name), typeid(Value), &Thunk::address,
            Detail::IsRefPointer<Value>::value ? &Thunk::getObject : nullptr,
            Detail::IsRefPointer<Value>::value ? &Thunk::setObject : nullptr);
        return *this;
    }

    Class* get() const { return m_class; }
    operator Class*() const { return m_class; }

private:
    static Object* allocate() { return new T; }
    static Class* requireClass(std::string_view name)
    {
        Class* cls = getClass(name);
        if (!cls)
            throw std::logic_error("superclass \"" + std::string(name) + "\" is not registered");
        return cls;
    }
    template<typename Function> static void addTo(Class* cls, std::string_view selector, Function function, const std::type_info& signature)
    {
        cls->addMethod(sel(selector), reinterpret_cast<Imp>(function), signature);
    }

    Class* m_class;
};

// A class looked up by name on first use and again after a registry reset;
// the stand-in for a class reference the linker would fill in.
class ClassReference {
public:
    constexpr explicit ClassReference(const char* name)
        : m_name(name)
    {
    }
    Class* get() const
    {
        uint64_t generation = registryGeneration();
        if (m_generation.load(std::memory_order_acquire) != generation) {
            m_class.store(getClass(m_name), std::memory_order_relaxed);
            m_generation.store(generation, std::memory_order_release);
        }
        return m_class.load(std::memory_order_relaxed);
    }
    operator Class*() const { return get(); }

private:
    const char* m_name;
    mutable std::atomic<Class*> m_class { nullptr };
    mutable std::atomic<uint64_t> m_generation { 0 };
};

// A fresh instance of cls as the C++ type T (which the class must be made of).
template<typename T> Ref<T> makeInstance(Class* cls)
{
    if (!cls)
        throw std::logic_error("cannot make an instance of a missing class");
    return adoptRef(Detail::checkedDowncast<T>(cls->allocateInstance()));
}

} // namespace Runtime
