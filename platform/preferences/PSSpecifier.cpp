#include "platform/preferences/PSSpecifier.h"

#include <array>

using namespace Runtime;
using namespace Platform::Plist;

namespace Preferences {

namespace {

const ClassReference s_class("PSSpecifier");

constexpr std::array<const char*, 15> cellTypeNames = { "PSGroupCell", "PSLinkCell", "PSLinkListCell", "PSListItemCell",
    "PSTitleValueCell", "PSSliderCell", "PSSwitchCell", "PSStaticTextCell", "PSEditTextCell", "PSSegmentCell",
    "PSGiantIconCell", "PSGiantCell", "PSSecureEditTextCell", "PSButtonCell", "PSEditTextViewCell" };

} // namespace

std::optional<PSCellType> cellTypeFromName(std::string_view name)
{
    for (size_t i = 0; i < cellTypeNames.size(); ++i) {
        if (name == cellTypeNames[i])
            return PSCellType(i);
    }
    return std::nullopt;
}

const char* cellTypeName(int64_t type)
{
    return type >= 0 && size_t(type) < cellTypeNames.size() ? cellTypeNames[size_t(type)] : "PSStaticTextCell";
}

bool cellTypeHoldsValue(int64_t type)
{
    switch (type) {
    case PSLinkListCell:
    case PSTitleValueCell:
    case PSSliderCell:
    case PSSwitchCell:
    case PSEditTextCell:
    case PSSegmentCell:
    case PSSecureEditTextCell:
    case PSEditTextViewCell:
        return true;
    default:
        return false;
    }
}

Class* PSSpecifier::runtimeClass() { return s_class.get(); }

Ref<PSSpecifier> PSSpecifier::create(Dictionary properties, Object* target)
{
    auto specifier = makeInstance<PSSpecifier>(runtimeClass());
    specifier->m_properties = std::move(properties);
    specifier->m_target = WeakPtr<Object>(target);
    if (auto cell = specifier->stringProperty("cell")) {
        if (auto type = cellTypeFromName(*cell))
            specifier->m_cellType = *type;
    }
    if (auto action = specifier->stringProperty("action"); action && !action->empty())
        specifier->m_action = sel(*action);
    return specifier;
}

std::optional<Value> PSSpecifier::propertyForKey(Object* key) const
{
    auto name = stringValue(key);
    if (!name)
        return std::nullopt;
    if (auto* value = m_properties.find(*name))
        return *value;
    return std::nullopt;
}

std::optional<std::string> PSSpecifier::stringProperty(std::string_view key) const
{
    auto* value = m_properties.find(key);
    if (!value || !value->asString())
        return std::nullopt;
    return *value->asString();
}

std::string PSSpecifier::identifierText() const
{
    if (auto id = stringProperty("id"))
        return *id;
    return stringProperty("label").value_or("");
}

RefPtr<Object> PSSpecifier::identifier() const { return NSString::create(identifierText()); }

RefPtr<Object> PSSpecifier::name() const
{
    auto label = stringProperty("label");
    return label ? RefPtr<Object>(NSString::create(*label)) : nullptr;
}

} // namespace Preferences
