// A real Objective-C class whose instances each carry a C++ object of type T: made when the
// instance is allocated (through the runtime's `.cxx_construct`, which Foundation calls) and
// destroyed when it deallocates (`.cxx_destruct`). T's member functions become instance
// methods, with C++ types at the boundary (bool for BOOL; a RetainPtr result is handed out
// autoreleased, as a method returns an object it does not give away):
//
//     ObjC::CxxClass<Window>::define("SBCoverSheetWindow", ObjC::getClass("NSObject"))
//         .method<&Window::hitTest>("hitTest:withEvent:")
//         .registerClass();
//
// For the host and the platform stand-ins; the system's own code defines its classes with
// ClassDefinition alone.
#pragma once

#include "runtime/ClassDefinition.h"

#include <new>
#include <string>
#include <utility>

namespace ObjC {

namespace Detail {

template<typename R> inline BoundaryType<R> resultToBoundary(R&& value)
{
    using Plain = std::remove_cv_t<std::remove_reference_t<R>>;
    if constexpr (std::is_same_v<Plain, RetainPtr>) {
        static SEL const autorelease = sel("autorelease");
        return send<id>(value.leak(), autorelease);
    } else
        return toBoundary(static_cast<R&&>(value));
}

template<typename R, typename Call> inline BoundaryType<R> callAndConvert(Call&& call)
{
    if constexpr (std::is_void_v<R>)
        call();
    else
        return resultToBoundary<R>(call());
}

template<typename A> inline A fromArgument(BoundaryType<A> value)
{
    static_assert(!std::is_same_v<std::remove_cvref_t<A>, RetainPtr>, "objects arrive as id");
    if constexpr (std::is_same_v<std::remove_cvref_t<A>, bool>)
        return value != 0;
    else
        return value;
}

} // namespace Detail

template<typename T> class CxxClass {
public:
    // The C++ object inside an instance of the class (or of a subclass).
    static T* state(id self) { return reinterpret_cast<T*>(reinterpret_cast<char*>(self) + s_offset); }
    // The instance a C++ object lives in.
    static id self(const T* state) { return reinterpret_cast<id>(reinterpret_cast<char*>(const_cast<T*>(state)) - s_offset); }
    static Class runtimeClass() { return s_class; }

    class Definition {
    public:
        Definition(const char* name, Class superclass)
            : m_definition(name, superclass)
            , m_storageName(std::string("__cxx_") + name)
        {
            m_definition.storage(m_storageName.c_str(), sizeof(T), alignof(T), "?");
            m_definition.method(".cxx_construct", &construct);
            m_definition.method(".cxx_destruct", &destruct);
        }

        template<auto F> Definition& method(const char* selector)
        {
            addThunk<F>(m_definition.get(), selector, F);
            return *this;
        }
        // A static function `R (A...)` as a class method.
        template<auto F> Definition& classMethod(const char* selector)
        {
            if (m_definition.get())
                addStatic<F>(object_getClass(toId(m_definition.get())), selector, F);
            return *this;
        }
        template<typename V> Definition& ivar(const char* name)
        {
            m_definition.template ivar<V>(name);
            return *this;
        }
        // The class, or Nil when the name was taken; a class of T may be registered once.
        Class registerClass()
        {
            Class cls = m_definition.registerClass();
            if (cls) {
                s_offset = ivar_getOffset(class_getInstanceVariable(cls, m_storageName.c_str()));
                s_class = cls;
            }
            return cls;
        }

    private:
        template<auto F, typename R, typename... A> static void addThunk(Class cls, const char* selector, R (T::*)(A...))
        {
            addMember<F, R, A...>(cls, selector);
        }
        template<auto F, typename R, typename... A> static void addThunk(Class cls, const char* selector, R (T::*)(A...) const)
        {
            addMember<F, R, A...>(cls, selector);
        }
        template<auto F, typename R, typename... A> static void addMember(Class cls, const char* selector)
        {
            using Function = Detail::BoundaryType<R> (*)(id, SEL, Detail::BoundaryType<A>...);
            Function thunk = [](id self, SEL, Detail::BoundaryType<A>... arguments) -> Detail::BoundaryType<R> {
                T* target = state(self);
                return Detail::callAndConvert<R>([&]() -> R { return (target->*F)(Detail::fromArgument<A>(arguments)...); });
            };
            if (cls)
                class_addMethod(cls, sel(selector), ObjC::Detail::functionCast<IMP>(thunk),
                    Detail::methodTypesOf<Detail::BoundaryType<R>, Detail::BoundaryType<A>...>());
        }
        template<auto G, typename R, typename... A> static void addStatic(Class metaclass, const char* selector, R (*)(A...))
        {
            using Function = Detail::BoundaryType<R> (*)(id, SEL, Detail::BoundaryType<A>...);
            Function thunk = [](id, SEL, Detail::BoundaryType<A>... arguments) -> Detail::BoundaryType<R> {
                return Detail::callAndConvert<R>([&]() -> R { return G(Detail::fromArgument<A>(arguments)...); });
            };
            class_addMethod(metaclass, sel(selector), ObjC::Detail::functionCast<IMP>(thunk),
                Detail::methodTypesOf<Detail::BoundaryType<R>, Detail::BoundaryType<A>...>());
        }

        static id construct(id self, SEL)
        {
            new (state(self)) T;
            return self;
        }
        static void destruct(id self, SEL) { state(self)->~T(); }

        ClassDefinition m_definition;
        std::string m_storageName;
    };

    static Definition define(const char* name, Class superclass) { return Definition(name, superclass); }

private:
    static inline ptrdiff_t s_offset = 0;
    static inline Class s_class = nullptr;
};

// The instance a C++ object of a CxxClass lives in.
template<typename T> inline id selfOf(const T* state) { return CxxClass<T>::self(state); }

} // namespace ObjC
