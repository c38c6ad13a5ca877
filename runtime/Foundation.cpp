#include "runtime/Foundation.h"

namespace Runtime {

namespace {

const ClassReference s_objectClass("NSObject");
const ClassReference s_stringClass("NSString");
const ClassReference s_arrayClass("NSArray");
const ClassReference s_blockClass("NSBlock");

void registerFoundationClasses()
{
    ClassBuilder<NSObject>("NSObject", static_cast<Class*>(nullptr))
        .classMethod<&NSObject::alloc>("alloc")
        .classMethod<&NSObject::makeNew>("new")
        .method<&NSObject::init>("init")
        .method<&NSObject::respondsToSelectorMethod>("respondsToSelector:")
        .method<&NSObject::isKindOfClass>("isKindOfClass:")
        .method<&NSObject::isEqual>("isEqual:");
    ClassBuilder<NSString>("NSString", "NSObject")
        .method<&NSString::isEqualToString>("isEqualToString:")
        .method<&NSString::lastPathComponent>("lastPathComponent")
        .method<&NSString::length>("length");
    ClassBuilder<NSArray>("NSArray", "NSObject")
        .method<&NSArray::count>("count")
        .method<&NSArray::objectAtIndex>("objectAtIndex:")
        .method<&NSArray::objectAtIndex>("objectAtIndexedSubscript:")
        .method<&NSArray::firstObject>("firstObject")
        .method<&NSArray::copy>("copy");
    ClassBuilder<NSBlock>("NSBlock", "NSObject")
        .method<&NSBlock::invoke>("invoke");
}

const bool s_registered = (addClassRegistrar(&registerFoundationClasses), true);

} // namespace

Class* NSObject::runtimeClass() { return s_objectClass.get(); }
Class* NSString::runtimeClass() { return s_stringClass.get(); }
Class* NSArray::runtimeClass() { return s_arrayClass.get(); }
Class* NSBlock::runtimeClass() { return s_blockClass.get(); }

bool NSObject::respondsToSelectorMethod(Selector selector) const { return respondsToSelector(this, selector); }

bool NSObject::isKindOfClass(Object* cls) const
{
    auto* target = dynamic_cast<Class*>(cls);
    return target && isa()->isSubclassOf(target);
}

RefPtr<Object> NSObject::alloc(Class* cls) { return adoptRefPtr(cls->allocateInstance()); }

RefPtr<Object> NSObject::makeNew(Class* cls) { return allocInit(cls); }

Ref<NSString> NSString::create(std::string string)
{
    auto result = makeInstance<NSString>(runtimeClass());
    result->m_string = std::move(string);
    return result;
}

bool NSString::isEqualToString(Object* other) const
{
    auto* string = dynamic_cast<NSString*>(other);
    return string && string->m_string == m_string;
}

// Foundation's rule: trailing slashes do not count, "/" stays "/".
RefPtr<NSString> NSString::lastPathComponent() const
{
    std::string_view path = m_string;
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    if (path == "/")
        return NSString::create("/");
    size_t slash = path.rfind('/');
    return NSString::create(std::string(slash == std::string_view::npos ? path : path.substr(slash + 1)));
}

std::optional<std::string> stringValue(const Object* object)
{
    if (auto* string = dynamic_cast<const NSString*>(object))
        return string->string();
    return std::nullopt;
}

Ref<NSArray> NSArray::create(std::vector<RefPtr<Object>> objects)
{
    auto result = makeInstance<NSArray>(runtimeClass());
    result->m_objects = std::move(objects);
    return result;
}

RefPtr<Object> NSArray::objectAtIndex(uint64_t index) const
{
    if (index >= m_objects.size()) {
        throw NSException(NSRangeException, "*** -[NSArray objectAtIndex:]: index " + std::to_string(index)
            + " beyond bounds [0 .. " + std::to_string(m_objects.size()) + "]");
    }
    return m_objects[index];
}

Ref<NSBlock> NSBlock::create(std::function<void()> function)
{
    auto result = makeInstance<NSBlock>(runtimeClass());
    result->m_function = std::move(function);
    return result;
}

} // namespace Runtime
