#include "platform/preferences/PSSpecifier.h"

#include "platform/foundation/FoundationValue.h"
#include "platform/uikit/UIKitObjects.h"

#include <array>

namespace Preferences {

namespace {

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

Class PSSpecifier::runtimeClass() { return ObjC::CxxClass<PSSpecifier>::runtimeClass(); }

PSSpecifier* PSSpecifier::from(id object) { return UIKit::stateIfKindOf<PSSpecifier>(object); }

id PSSpecifier::create(id properties, id target)
{
    static SEL const mutableCopy = ObjC::sel("mutableCopy");
    static SEL const dictionary = ObjC::sel("dictionary");
    ObjC::RetainPtr specifier = ObjC::allocInit(runtimeClass());
    PSSpecifier* state = ObjC::CxxClass<PSSpecifier>::state(specifier);
    bool isDictionary = UIKit::isKindOf(properties, ObjC::getClass("NSDictionary"));
    state->m_properties = isDictionary ? ObjC::adopt(ObjC::send<id>(properties, mutableCopy))
                                       : ObjC::RetainPtr(ObjC::send<id>(ObjC::getClass("NSMutableDictionary"), dictionary));
    state->m_target = ObjC::WeakPtr(target);
    if (auto cell = state->stringProperty("cell")) {
        if (auto type = cellTypeFromName(*cell))
            state->m_cellType = *type;
    }
    if (auto action = state->stringProperty("action"); action && !action->empty())
        state->m_action = ObjC::sel(action->c_str());
    return UIKit::autoreleased(std::move(specifier));
}

id PSSpecifier::propertyForKey(id key) const
{
    static SEL const objectForKey = ObjC::sel("objectForKey:");
    return key ? ObjC::send<id>(m_properties, objectForKey, key) : nullptr;
}

id PSSpecifier::property(const char* key) const { return propertyForKey(ObjC::string(key)); }

std::optional<std::string> PSSpecifier::stringProperty(const char* key) const { return Platform::stringValue(property(key)); }

std::optional<Platform::Plist::Value> PSSpecifier::propertyValue(const char* key) const
{
    return Platform::propertyListValue(property(key));
}

std::string PSSpecifier::identifierText() const
{
    if (auto given = stringProperty("id"))
        return *given;
    return stringProperty("label").value_or("");
}

ObjC::RetainPtr PSSpecifier::identifier() const { return Platform::makeString(identifierText()); }

id PSSpecifier::name() const
{
    id label = property("label");
    return Platform::stringValue(label) ? label : nullptr;
}

} // namespace Preferences
