// The root of every runtime object: an intrusive, thread-safe reference count,
// the object's class, and support for weak references.
#pragma once

#include "runtime/RefPtr.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string_view>

namespace Runtime {

class Class;
class WeakReference;

class Object {
public:
    Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    virtual ~Object();

    void ref() const { m_refCount.fetch_add(1, std::memory_order_relaxed); }
    void deref() const
    {
        if (m_refCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
            destroy();
    }
    uint32_t refCount() const { return m_refCount.load(std::memory_order_relaxed); }

    // The object's class; set once when the object is allocated through its class.
    Class* isa() const { return m_isa; }

    // The shared cell that weak pointers hold; made on first use.
    WeakReference& weakReference() const;

private:
    friend class Class;
    friend class WeakReference;
    friend Class* allocateClass(std::string_view, Class*, Object* (*)());
    bool tryRef() const;
    void destroy() const;

    mutable std::atomic<uint32_t> m_refCount { 1 };
    Class* m_isa { nullptr };
    mutable std::atomic<WeakReference*> m_weakReference { nullptr };
};

// The cell between an object and its weak pointers. It outlives the object and
// reads null from the moment the object's last strong reference is dropped.
class WeakReference {
public:
    void ref() const { m_refCount.fetch_add(1, std::memory_order_relaxed); }
    void deref() const
    {
        if (m_refCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
            delete this;
    }

    RefPtr<Object> lock() const;
    bool expired() const;

private:
    friend class Object;
    explicit WeakReference(const Object* target)
        : m_target(target)
    {
    }
    void clear();

    mutable std::atomic<uint32_t> m_refCount { 1 };
    mutable std::mutex m_lock;
    const Object* m_target;
};

template<typename T> class WeakPtr {
public:
    WeakPtr() = default;
    WeakPtr(T* object)
    {
        if (object) {
            m_cell = &object->weakReference();
            m_cell->ref();
            m_object = object;
        }
    }
    WeakPtr(const RefPtr<T>& object)
        : WeakPtr(object.get())
    {
    }
    WeakPtr(const WeakPtr& other)
        : m_cell(other.m_cell)
        , m_object(other.m_object)
    {
        if (m_cell)
            m_cell->ref();
    }
    WeakPtr& operator=(WeakPtr other)
    {
        std::swap(m_cell, other.m_cell);
        std::swap(m_object, other.m_object);
        return *this;
    }
    ~WeakPtr()
    {
        if (m_cell)
            m_cell->deref();
    }

    // A strong reference, or null once the object is gone.
    RefPtr<T> get() const
    {
        if (!m_cell)
            return nullptr;
        RefPtr<Object> strong = m_cell->lock();
        if (!strong)
            return nullptr;
        return RefPtr<T>(m_object);
    }
    explicit operator bool() const { return m_cell && !m_cell->expired(); }

private:
    WeakReference* m_cell { nullptr };
    T* m_object { nullptr };
};

} // namespace Runtime
