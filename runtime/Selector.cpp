#include "runtime/Selector.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

namespace Runtime {

namespace {

struct SelectorTable {
    std::shared_mutex lock;
    std::deque<SelectorInfo> storage; // stable addresses
    std::unordered_map<std::string_view, const SelectorInfo*> byName;
    std::atomic<uint32_t> count { 0 };
};

SelectorTable& table()
{
    static auto* instance = new SelectorTable; // never destroyed: selectors outlive every static
    return *instance;
}

} // namespace

Selector sel(std::string_view name)
{
    auto& selectors = table();
    {
        std::shared_lock lock(selectors.lock);
        auto found = selectors.byName.find(name);
        if (found != selectors.byName.end())
            return Selector(found->second);
    }
    std::unique_lock lock(selectors.lock);
    auto found = selectors.byName.find(name);
    if (found != selectors.byName.end())
        return Selector(found->second);
    auto& info = selectors.storage.emplace_back(SelectorInfo { std::string(name), selectors.count.load() });
    selectors.byName.emplace(info.name, &info);
    selectors.count.store(info.index + 1, std::memory_order_release);
    return Selector(&info);
}

uint32_t selectorCount() { return table().count.load(std::memory_order_acquire); }

} // namespace Runtime
