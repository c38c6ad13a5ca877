// Zeroing weak references for GCC's runtime, under Apple's names: a table from each weakly
// referenced object to the locations that hold it, cleared when the object deallocates.
// The root classes' -dealloc is replaced, on first use, by one that clears the object's
// locations and then goes on to the replaced implementation.
//
// Loads and stores are safe from any thread. A load racing the object's last release on
// another thread is not: as on every runtime, a weak reference shared across threads must
// be read on the thread that may release the object, which is how the system uses them
// (the main thread only).
#include "runtime/ObjC.h"

#include <atomic>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

using Dealloc = void (*)(id, SEL);

struct WeakTable {
    std::mutex lock;
    std::unordered_map<id, std::vector<id*>> locations;
    // The number of objects in the table, read without the lock on every dealloc.
    std::atomic<size_t> objectCount { 0 };
};

WeakTable& table()
{
    // Never destroyed: objects deallocate during exit, after static destructors.
    static WeakTable* weakTable = new WeakTable;
    return *weakTable;
}

Dealloc s_savedObjectDealloc;
Dealloc s_savedProxyDealloc;

void clearLocations(id object)
{
    WeakTable& weak = table();
    if (!weak.objectCount.load(std::memory_order_acquire))
        return;
    std::lock_guard guard(weak.lock);
    auto found = weak.locations.find(object);
    if (found == weak.locations.end())
        return;
    for (id* location : found->second)
        *location = nullptr;
    weak.locations.erase(found);
    weak.objectCount.fetch_sub(1, std::memory_order_release);
}

void objectDealloc(id self, SEL cmd)
{
    clearLocations(self);
    s_savedObjectDealloc(self, cmd);
}

void proxyDealloc(id self, SEL cmd)
{
    clearLocations(self);
    s_savedProxyDealloc(self, cmd);
}

// Both root classes implement -dealloc themselves; every other class's reaches one of them.
void replaceDealloc(Class cls, Dealloc replacement, Dealloc& saved)
{
    Method method = cls ? class_getInstanceMethod(cls, ObjC::sel("dealloc")) : nullptr;
    if (!method)
        return;
    saved = ObjC::Detail::functionCast<Dealloc>(method_getImplementation(method));
    method_setImplementation(method, ObjC::Detail::functionCast<IMP>(replacement));
    __objc_update_dispatch_table_for_class(cls);
}

void installDeallocHooks()
{
    static std::once_flag once;
    std::call_once(once, [] {
        replaceDealloc(ObjC::getClass("NSObject"), &objectDealloc, s_savedObjectDealloc);
        replaceDealloc(ObjC::getClass("NSProxy"), &proxyDealloc, s_savedProxyDealloc);
    });
}

// Both with the table's lock held.
void addLocation(WeakTable& weak, id* location, id object)
{
    auto& entries = weak.locations[object];
    if (entries.empty())
        weak.objectCount.fetch_add(1, std::memory_order_release);
    entries.push_back(location);
}

void removeLocation(WeakTable& weak, id* location)
{
    id object = *location;
    if (!object)
        return;
    auto found = weak.locations.find(object);
    if (found == weak.locations.end())
        return;
    auto& entries = found->second;
    for (auto entry = entries.begin(); entry != entries.end(); ++entry) {
        if (*entry == location) {
            entries.erase(entry);
            break;
        }
    }
    if (entries.empty()) {
        weak.locations.erase(found);
        weak.objectCount.fetch_sub(1, std::memory_order_release);
    }
}

} // namespace

extern "C" id objc_storeWeak(id* location, id value)
{
    if (value)
        installDeallocHooks();
    WeakTable& weak = table();
    std::lock_guard guard(weak.lock);
    removeLocation(weak, location);
    *location = value;
    if (value)
        addLocation(weak, location, value);
    return value;
}

extern "C" id objc_initWeak(id* location, id value)
{
    *location = nullptr;
    return objc_storeWeak(location, value);
}

extern "C" id objc_loadWeakRetained(id* location)
{
    WeakTable& weak = table();
    std::lock_guard guard(weak.lock);
    id object = *location;
    ObjC::retain(object);
    return object;
}

extern "C" void objc_destroyWeak(id* location) { objc_storeWeak(location, nullptr); }
