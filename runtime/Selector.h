// Interned selectors: one entry per distinct name for the life of the process,
// so selectors compare by identity and index the per-class method caches.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace Runtime {

struct SelectorInfo {
    std::string name;
    uint32_t index;
};

class Selector {
public:
    Selector() = default;
    explicit Selector(const SelectorInfo* info)
        : m_info(info)
    {
    }

    bool isNull() const { return !m_info; }
    std::string_view name() const { return m_info ? std::string_view(m_info->name) : std::string_view("(null)"); }
    uint32_t index() const { return m_info->index; }
    const SelectorInfo* info() const { return m_info; }

    friend bool operator==(Selector a, Selector b) { return a.m_info == b.m_info; }

private:
    const SelectorInfo* m_info { nullptr };
};

// sel_registerName: the one selector of this name.
Selector sel(std::string_view name);
// How many selectors exist; every selector's index is below it.
uint32_t selectorCount();

} // namespace Runtime

template<> struct std::hash<Runtime::Selector> {
    size_t operator()(Runtime::Selector selector) const noexcept { return std::hash<const void*>()(selector.info()); }
};
