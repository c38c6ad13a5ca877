// The few Foundation classes every module relies on: NSObject (the root
// class), NSString, NSArray and NSBlock. They are registered when the runtime
// library loads.
#pragma once

#include "runtime/ClassBuilder.h"
#include "runtime/NSObject.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace Runtime {

class NSString final : public NSObject {
public:
    static Class* runtimeClass();
    static Ref<NSString> create(std::string);

    const std::string& string() const { return m_string; }

    bool isEqualToString(Object* other) const;
    RefPtr<NSString> lastPathComponent() const;
    uint64_t length() const { return m_string.size(); }

private:
    std::string m_string;
};

// The text of an NSString, or nullopt for nil or any other object.
std::optional<std::string> stringValue(const Object*);

class NSArray final : public NSObject {
public:
    static Class* runtimeClass();
    static Ref<NSArray> create(std::vector<RefPtr<Object>>);

    const std::vector<RefPtr<Object>>& objects() const { return m_objects; }

    uint64_t count() const { return m_objects.size(); }
    // Raises NSRangeException past the end, as Foundation does.
    RefPtr<Object> objectAtIndex(uint64_t index) const;
    RefPtr<Object> firstObject() const { return m_objects.empty() ? nullptr : m_objects.front(); }
    // An immutable array is its own copy.
    RefPtr<Object> copy() { return RefPtr<Object>(this); }

private:
    std::vector<RefPtr<Object>> m_objects;
};

// A block object: work that can be handed around and run later.
class NSBlock final : public NSObject {
public:
    static Class* runtimeClass();
    static Ref<NSBlock> create(std::function<void()>);

    void invoke() const
    {
        if (m_function)
            m_function();
    }

private:
    std::function<void()> m_function;
};

} // namespace Runtime
