#include "runtime/Class.h"
#include "runtime/RuntimeTesting.h"

#include <algorithm>
#include <cstdio>
#include <cxxabi.h>
#include <map>
#include <mutex>

namespace Runtime {

std::atomic<uint64_t> g_methodEpoch { 1 };

namespace {

struct Registry {
    std::recursive_mutex lock;
    std::map<std::string, Class*, std::less<>> classesByName;
    // Classes a reset took out of the name table: objects may still point at them.
    std::vector<Class*> retiredClasses;
    std::vector<void (*)()> registrars;
    std::atomic<uint64_t> generation { 1 };
    std::function<void(std::string_view)> warningHandler;
};

Registry& registry()
{
    static auto* instance = new Registry; // classes are immortal, and so is their registry
    return *instance;
}

std::string demangle(const std::type_info& type)
{
    int status = 0;
    char* readable = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
    std::string result = status == 0 && readable ? readable : type.name();
    std::free(readable);
    return result;
}

} // namespace

SignatureMismatch::~SignatureMismatch() = default;

// ---- Object

Object::~Object() = default;

bool Object::tryRef() const
{
    uint32_t count = m_refCount.load(std::memory_order_relaxed);
    while (count) {
        if (m_refCount.compare_exchange_weak(count, count + 1, std::memory_order_acq_rel))
            return true;
    }
    return false;
}

void Object::destroy() const
{
    if (auto* cell = m_weakReference.load(std::memory_order_acquire)) {
        cell->clear();
        cell->deref();
    }
    delete this;
}

WeakReference& Object::weakReference() const
{
    WeakReference* cell = m_weakReference.load(std::memory_order_acquire);
    if (cell)
        return *cell;
    auto* fresh = new WeakReference(this);
    if (m_weakReference.compare_exchange_strong(cell, fresh, std::memory_order_acq_rel))
        return *fresh;
    delete fresh;
    return *cell;
}

RefPtr<Object> WeakReference::lock() const
{
    std::lock_guard guard(m_lock);
    if (!m_target || !m_target->tryRef())
        return nullptr;
    return adoptRefPtr(const_cast<Object*>(m_target));
}

bool WeakReference::expired() const
{
    std::lock_guard guard(m_lock);
    return !m_target || !m_target->refCount();
}

void WeakReference::clear()
{
    std::lock_guard guard(m_lock);
    m_target = nullptr;
}

// ---- Method

void Method::checkSignatureSlow(const std::type_info& expected) const
{
    if (expected == *m_signature) {
        m_alsoMatches.store(&expected, std::memory_order_relaxed);
        return;
    }
    throw SignatureMismatch("-[" + (m_owner ? m_owner->name() : std::string("?")) + " " + std::string(m_selector.name())
        + "] is " + demangle(*m_signature) + " but was called as " + demangle(expected));
}

// ---- Class

Class::Class(std::string name, Class* superclass, Allocator allocator, bool isMetaclass)
    : m_name(std::move(name))
    , m_superclass(superclass)
    , m_allocator(allocator)
    , m_isMetaclass(isMetaclass)
{
}

Class::~Class() = default;

bool Class::isSubclassOf(const Class* other) const
{
    for (const Class* current = this; current; current = current->m_superclass) {
        if (current == other)
            return true;
    }
    return false;
}

Method* Class::ownMethod(Selector selector) const
{
    std::lock_guard guard(registry().lock);
    auto found = m_methods.find(selector);
    return found == m_methods.end() ? nullptr : found->second.get();
}

std::vector<Selector> Class::ownSelectors() const
{
    std::lock_guard guard(registry().lock);
    std::vector<Selector> selectors;
    for (auto& entry : m_methods)
        selectors.push_back(entry.first);
    std::sort(selectors.begin(), selectors.end(), [](Selector a, Selector b) { return a.name() < b.name(); });
    return selectors;
}

void Class::addMethod(Selector selector, Imp implementation, const std::type_info& signature)
{
    std::lock_guard guard(registry().lock);
    auto found = m_methods.find(selector);
    if (found != m_methods.end()) {
        // A caller may still be running through the old entry: retire it, never free it.
        m_retiredMethods.push_back(std::move(found->second));
        found->second = std::make_unique<Method>(this, selector, implementation, signature);
    } else
        m_methods.emplace(selector, std::make_unique<Method>(this, selector, implementation, signature));
    // A new or replaced entry can change what this class and every subclass finds.
    g_methodEpoch.fetch_add(1, std::memory_order_acq_rel);
}

void Class::addIvar(std::string name, const std::type_info& type, Ivar::AddressFunction address,
    Ivar::GetObjectFunction getObject, Ivar::SetObjectFunction setObject)
{
    std::lock_guard guard(registry().lock);
    m_ivars.push_back(std::make_unique<Ivar>(this, std::move(name), type, address, getObject, setObject));
}

const Ivar* Class::instanceVariable(std::string_view name) const
{
    std::lock_guard guard(registry().lock);
    for (const Class* current = this; current; current = current->m_superclass) {
        for (auto& ivar : current->m_ivars) {
            if (ivar->name() == name)
                return ivar.get();
        }
    }
    return nullptr;
}

Object* Class::allocateInstance()
{
    if (m_isMetaclass || !m_allocator)
        throw std::logic_error("class " + m_name + " cannot make instances");
    Object* object = m_allocator();
    object->m_isa = this;
    return object;
}

const Method* Class::findUncached(Selector selector) const
{
    for (const Class* current = this; current; current = current->m_superclass) {
        auto found = current->m_methods.find(selector);
        if (found != current->m_methods.end())
            return found->second.get();
    }
    return nullptr;
}

const Method* Class::lookupSlow(Selector selector) const
{
    if (selector.isNull())
        return nullptr;
    std::lock_guard guard(registry().lock);
    const Method* found = findUncached(selector);

    uint64_t epoch = g_methodEpoch.load(std::memory_order_acquire);
    const MethodCache* cache = m_cache.load(std::memory_order_acquire);
    size_t needed = size_t(selector.index()) + 1;
    if (!cache || cache->epoch != epoch || cache->entries.size() < needed) {
        bool reusable = cache && cache->epoch == epoch;
        size_t size = std::max<size_t>({ needed, selectorCount(), reusable ? cache->entries.size() * 2 : 0, 64 });
        auto fresh = std::make_unique<MethodCache>(epoch, size);
        if (reusable) {
            for (size_t i = 0; i < cache->entries.size(); ++i)
                fresh->entries[i].store(cache->entries[i].load(std::memory_order_relaxed), std::memory_order_relaxed);
        }
        cache = fresh.get();
        // Readers may still hold the old table: it is retired, never freed.
        m_retiredCaches.push_back(std::move(fresh));
        m_cache.store(cache, std::memory_order_release);
    }
    const_cast<MethodCache*>(cache)->entries[selector.index()].store(
        found ? found : notFoundMarker(), std::memory_order_release);
    return found;
}

// ---- Registry

Class* allocateClass(std::string_view name, Class* superclass, Class::Allocator allocator)
{
    auto& classes = registry();
    std::lock_guard guard(classes.lock);
    if (name.empty() || classes.classesByName.count(name))
        return nullptr;
    if (!allocator && superclass)
        allocator = superclass->m_allocator;

    auto* metaclass = new Class(std::string(name), superclass ? superclass->metaclass() : nullptr, nullptr, true);
    auto* cls = new Class(std::string(name), superclass, allocator, false);
    cls->m_isa = metaclass;
    metaclass->m_instanceClass = cls;
    if (superclass) {
        metaclass->m_isa = superclass->metaclass()->isa(); // the root metaclass
    } else {
        // A root class: class methods fall back to the root's instance methods.
        metaclass->m_superclass = cls;
        metaclass->m_isa = metaclass;
    }
    classes.classesByName.emplace(std::string(name), cls);
    return cls;
}

Class* getClass(std::string_view name)
{
    auto& classes = registry();
    std::lock_guard guard(classes.lock);
    auto found = classes.classesByName.find(name);
    return found == classes.classesByName.end() ? nullptr : found->second;
}

Class* classFromString(std::string_view name) { return getClass(name); }

Class* objectGetClass(const Object* object) { return object ? object->isa() : nullptr; }

const Ivar* classGetInstanceVariable(const Class* cls, std::string_view name)
{
    return cls ? cls->instanceVariable(name) : nullptr;
}

static void checkIvarUse(Object* object, const Ivar* ivar)
{
    if (!ivar)
        throw SignatureMismatch("null instance variable");
    if (!ivar->holdsObject())
        throw SignatureMismatch("instance variable " + ivar->name() + " does not hold an object");
    if (!objectGetClass(object)->isSubclassOf(ivar->owner()))
        throw SignatureMismatch("instance variable " + ivar->name() + " of " + ivar->owner()->name()
            + " read from an instance of " + objectGetClass(object)->name());
}

RefPtr<Object> objectGetIvar(Object* object, const Ivar* ivar)
{
    if (!object)
        return nullptr;
    checkIvarUse(object, ivar);
    return ivar->m_getObject(object);
}

void objectSetIvar(Object* object, const Ivar* ivar, Object* value)
{
    if (!object)
        return;
    checkIvarUse(object, ivar);
    ivar->m_setObject(object, value);
}

bool respondsToSelector(const Object* object, Selector selector)
{
    return object && !selector.isNull() && object->isa()->lookup(selector);
}

uint64_t registryGeneration() { return registry().generation.load(std::memory_order_acquire); }

void addClassRegistrar(void (*registrar)())
{
    {
        std::lock_guard guard(registry().lock);
        registry().registrars.push_back(registrar);
    }
    registrar();
}

void resetRegistryForTesting()
{
    std::vector<void (*)()> registrars;
    {
        auto& classes = registry();
        std::lock_guard guard(classes.lock);
        for (auto& [name, cls] : classes.classesByName)
            classes.retiredClasses.push_back(cls);
        classes.classesByName.clear();
        classes.generation.fetch_add(1, std::memory_order_acq_rel);
        g_methodEpoch.fetch_add(1, std::memory_order_acq_rel);
        registrars = classes.registrars;
    }
    for (auto registrar : registrars)
        registrar();
}

void setWarningHandler(std::function<void(std::string_view)> handler)
{
    std::lock_guard guard(registry().lock);
    registry().warningHandler = std::move(handler);
}

void warn(std::string_view message)
{
    std::function<void(std::string_view)> handler;
    {
        std::lock_guard guard(registry().lock);
        handler = registry().warningHandler;
    }
    if (handler)
        handler(message);
    else
        std::fprintf(stderr, "%.*s\n", int(message.size()), message.data());
}

} // namespace Runtime
