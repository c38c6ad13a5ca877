// Classes, methods and instance variables, and the process-wide class registry.
// A class is itself an object whose class is its metaclass, which holds the
// class methods; sending to a class therefore works like sending to anything.
#pragma once

#include "runtime/NSObject.h"
#include "runtime/Object.h"
#include "runtime/Selector.h"

#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <typeinfo>
#include <unordered_map>
#include <vector>

namespace Runtime {

using Imp = void (*)();

// A programmer error: a message or hook whose C++ signature differs from the
// one the method was registered with. Never undefined behaviour: it throws.
class SignatureMismatch : public std::logic_error {
public:
    using std::logic_error::logic_error;
    ~SignatureMismatch() override;
};

class Method {
public:
    Method(Class* owner, Selector selector, Imp implementation, const std::type_info& signature)
        : m_owner(owner)
        , m_selector(selector)
        , m_implementation(implementation)
        , m_signature(&signature)
    {
    }

    Class* owner() const { return m_owner; }
    Selector selector() const { return m_selector; }
    Imp implementation() const { return m_implementation.load(std::memory_order_acquire); }
    void setImplementation(Imp implementation) { m_implementation.store(implementation, std::memory_order_release); }
    const std::type_info& signature() const { return *m_signature; }

    // Fast check that a caller's signature is this method's; the slow path
    // compares by name, since each loaded module may have its own type_info.
    template<typename Signature> void checkSignature() const
    {
        const std::type_info* expected = &typeid(Signature);
        if (expected == m_signature || expected == m_alsoMatches.load(std::memory_order_relaxed)) [[likely]]
            return;
        checkSignatureSlow(*expected);
    }
    void checkSignatureSlow(const std::type_info& expected) const;

private:
    Class* m_owner;
    Selector m_selector;
    std::atomic<Imp> m_implementation;
    const std::type_info* m_signature;
    mutable std::atomic<const std::type_info*> m_alsoMatches { nullptr };
};

class Ivar {
public:
    using AddressFunction = void* (*)(Object*);
    using GetObjectFunction = RefPtr<Object> (*)(Object*);
    using SetObjectFunction = void (*)(Object*, Object*);

    Ivar(Class* owner, std::string name, const std::type_info& type, AddressFunction address,
        GetObjectFunction getObject, SetObjectFunction setObject)
        : m_owner(owner)
        , m_name(std::move(name))
        , m_type(&type)
        , m_address(address)
        , m_getObject(getObject)
        , m_setObject(setObject)
    {
    }

    Class* owner() const { return m_owner; }
    const std::string& name() const { return m_name; }
    const std::type_info& type() const { return *m_type; }
    bool holdsObject() const { return m_getObject; }

private:
    friend RefPtr<Object> objectGetIvar(Object*, const Ivar*);
    friend void objectSetIvar(Object*, const Ivar*, Object*);
    template<typename V> friend V* ivarAddress(Object*, const Ivar*);

    Class* m_owner;
    std::string m_name;
    const std::type_info* m_type;
    AddressFunction m_address;
    GetObjectFunction m_getObject;
    SetObjectFunction m_setObject;
};

// Bumped whenever a method appears on a class after registration, which can
// change what any subclass's lookup finds; every cache built before is stale.
extern std::atomic<uint64_t> g_methodEpoch;

class Class final : public NSObject {
public:
    using Allocator = Object* (*)();

    const std::string& name() const { return m_name; }
    Class* superclass() const { return m_superclass; }
    Class* metaclass() const { return isa(); }
    bool isMetaclass() const { return m_isMetaclass; }
    // For a metaclass, the class it belongs to.
    Class* instanceClass() const { return m_instanceClass; }
    bool isSubclassOf(const Class* other) const;

    // The method that a message with this selector reaches, walking up the
    // superclass chain; null when there is none. Lock-free once cached.
    const Method* lookup(Selector selector) const
    {
        const MethodCache* cache = m_cache.load(std::memory_order_acquire);
        if (cache && cache->epoch == g_methodEpoch.load(std::memory_order_acquire)
            && selector.index() < cache->entries.size()) [[likely]] {
            const Method* method = cache->entries[selector.index()].load(std::memory_order_acquire);
            if (method)
                return method == notFoundMarker() ? nullptr : method;
        }
        return lookupSlow(selector);
    }
    // A method defined on this very class, not inherited.
    Method* ownMethod(Selector) const;
    std::vector<Selector> ownSelectors() const;

    void addMethod(Selector, Imp, const std::type_info& signature);
    void addIvar(std::string name, const std::type_info& type, Ivar::AddressFunction, Ivar::GetObjectFunction,
        Ivar::SetObjectFunction);
    const Ivar* instanceVariable(std::string_view name) const;

    // A new instance with a reference count of one (adopt it).
    Object* allocateInstance();

    ~Class() override;

private:
    friend Class* allocateClass(std::string_view, Class*, Allocator);
    friend class Object;
    Class(std::string name, Class* superclass, Allocator, bool isMetaclass);

    struct MethodCache {
        uint64_t epoch;
        std::vector<std::atomic<const Method*>> entries;
        MethodCache(uint64_t epochValue, size_t size)
            : epoch(epochValue)
            , entries(size)
        {
        }
    };
    // Marks "no such method" in a cache entry; never dereferenced.
    static const Method* notFoundMarker() { return reinterpret_cast<const Method*>(uintptr_t(1)); }
    const Method* lookupSlow(Selector) const;
    const Method* findUncached(Selector) const;

    std::string m_name;
    Class* m_superclass;
    Class* m_instanceClass { nullptr };
    Allocator m_allocator;
    bool m_isMetaclass;
    std::unordered_map<Selector, std::unique_ptr<Method>> m_methods;
    std::vector<std::unique_ptr<Method>> m_retiredMethods;
    std::vector<std::unique_ptr<Ivar>> m_ivars;
    mutable std::atomic<const MethodCache*> m_cache { nullptr };
    mutable std::vector<std::unique_ptr<const MethodCache>> m_retiredCaches;
};

// objc_allocateClassPair + objc_registerClassPair: a new class (and its
// metaclass) under a name no other class has. Null when the name is taken.
// The allocator makes the C++ object behind each instance; a subclass that
// adds no state may pass null to inherit its superclass's allocator.
Class* allocateClass(std::string_view name, Class* superclass, Class::Allocator);

// objc_getClass / NSClassFromString: the class of that name, or null.
Class* getClass(std::string_view name);
Class* classFromString(std::string_view name);

// object_getClass: the object's class (a class's class is its metaclass).
Class* objectGetClass(const Object*);

// class_getInstanceVariable: looked up by name on the class and its superclasses.
const Ivar* classGetInstanceVariable(const Class*, std::string_view name);

// Reads and writes an object-typed instance variable. A null object reads
// null; an ivar of another class, or one that holds no object, is a
// programmer error and throws.
RefPtr<Object> objectGetIvar(Object*, const Ivar*);
void objectSetIvar(Object*, const Ivar*, Object* value);

template<typename V> V* ivarAddress(Object* object, const Ivar* ivar)
{
    if (!object || !ivar)
        return nullptr;
    if (!objectGetClass(object)->isSubclassOf(ivar->owner()) || ivar->type() != typeid(V))
        throw SignatureMismatch("instance variable " + ivar->name() + " read with the wrong class or type");
    return static_cast<V*>(ivar->m_address(object));
}

bool respondsToSelector(const Object*, Selector);

// Every time the registry is reset the generation changes, so code that keeps
// class pointers can tell they are stale.
uint64_t registryGeneration();

// Libraries that define classes add a registrar when they load; the registry
// runs it at once and again after every reset.
void addClassRegistrar(void (*)());

// Where runtime warnings go (the platform points this at the system log).
void setWarningHandler(std::function<void(std::string_view)>);
void warn(std::string_view message);

} // namespace Runtime
