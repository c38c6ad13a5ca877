// Smart pointers for runtime objects: Ref (strong, never null), RefPtr (strong,
// nullable) and WeakPtr (reads null once the object is gone).
#pragma once

#include <cstddef>
#include <utility>

namespace Runtime {

template<typename T> class Ref;
template<typename T> class RefPtr;

// Takes over a reference the caller already owns (a fresh object starts with one).
template<typename T> Ref<T> adoptRef(T*);

template<typename T> class Ref {
public:
    Ref(T& object)
        : m_ptr(&object)
    {
        m_ptr->ref();
    }
    template<typename U> Ref(const Ref<U>& other)
        : m_ptr(other.ptr())
    {
        m_ptr->ref();
    }
    Ref(const Ref& other)
        : m_ptr(other.m_ptr)
    {
        m_ptr->ref();
    }
    template<typename U> Ref(Ref<U>&& other)
        : m_ptr(&other.leakRef())
    {
    }
    Ref(Ref&& other)
        : m_ptr(&other.leakRef())
    {
    }
    ~Ref()
    {
        if (m_ptr)
            m_ptr->deref();
    }
    Ref& operator=(Ref other)
    {
        std::swap(m_ptr, other.m_ptr);
        return *this;
    }

    T* ptr() const { return m_ptr; }
    T& get() const { return *m_ptr; }
    T* operator->() const { return m_ptr; }
    T& operator*() const { return *m_ptr; }
    operator T&() const { return *m_ptr; }

    T& leakRef()
    {
        T* result = m_ptr;
        m_ptr = nullptr;
        return *result;
    }

private:
    template<typename U> friend Ref<U> adoptRef(U*);
    struct AdoptTag { };
    Ref(T* object, AdoptTag)
        : m_ptr(object)
    {
    }

    T* m_ptr;
};

template<typename T> Ref<T> adoptRef(T* object) { return Ref<T>(object, typename Ref<T>::AdoptTag {}); }

template<typename T> class RefPtr {
public:
    RefPtr() = default;
    RefPtr(std::nullptr_t) { }
    RefPtr(T* object)
        : m_ptr(object)
    {
        if (m_ptr)
            m_ptr->ref();
    }
    RefPtr(const RefPtr& other)
        : RefPtr(other.m_ptr)
    {
    }
    RefPtr(RefPtr&& other) noexcept
        : m_ptr(std::exchange(other.m_ptr, nullptr))
    {
    }
    template<typename U> RefPtr(const RefPtr<U>& other)
        : RefPtr(other.get())
    {
    }
    template<typename U> RefPtr(RefPtr<U>&& other)
        : m_ptr(other.leakRef())
    {
    }
    template<typename U> RefPtr(const Ref<U>& other)
        : RefPtr(other.ptr())
    {
    }
    template<typename U> RefPtr(Ref<U>&& other)
        : m_ptr(&other.leakRef())
    {
    }
    ~RefPtr()
    {
        if (m_ptr)
            m_ptr->deref();
    }
    RefPtr& operator=(RefPtr other) noexcept
    {
        std::swap(m_ptr, other.m_ptr);
        return *this;
    }

    T* get() const { return m_ptr; }
    T* operator->() const { return m_ptr; }
    T& operator*() const { return *m_ptr; }
    explicit operator bool() const { return m_ptr; }
    bool operator!() const { return !m_ptr; }

    T* leakRef() { return std::exchange(m_ptr, nullptr); }

    friend bool operator==(const RefPtr& a, const RefPtr& b) { return a.m_ptr == b.m_ptr; }
    friend bool operator==(const RefPtr& a, const T* b) { return a.m_ptr == b; }
    friend bool operator==(const RefPtr& a, std::nullptr_t) { return !a.m_ptr; }

private:
    T* m_ptr { nullptr };
};

template<typename T> RefPtr<T> adoptRefPtr(T* object)
{
    if (!object)
        return nullptr;
    return RefPtr<T>(adoptRef(object));
}

} // namespace Runtime
