// PSSpecifier: one row of a settings page, made from an entry of the page's specifier property
// list. Its properties are that entry as it stands, as Foundation objects.
#pragma once

#include "platform/plist/Value.h"
#include "runtime/ObjC.h"

#include <optional>
#include <string>
#include <string_view>

namespace Preferences {

enum PSCellType : int64_t {
    PSGroupCell = 0,
    PSLinkCell,
    PSLinkListCell,
    PSListItemCell,
    PSTitleValueCell,
    PSSliderCell,
    PSSwitchCell,
    PSStaticTextCell,
    PSEditTextCell,
    PSSegmentCell,
    PSGiantIconCell,
    PSGiantCell,
    PSSecureEditTextCell,
    PSButtonCell,
    PSEditTextViewCell,
};

// "PSSwitchCell" → PSSwitchCell; an unknown name is nullopt.
std::optional<PSCellType> cellTypeFromName(std::string_view);
const char* cellTypeName(int64_t);
// Whether rows of this type show a value that the controller reads and writes.
bool cellTypeHoldsValue(int64_t);

// The C++ side of a PSSpecifier instance.
class PSSpecifier {
public:
    static Class runtimeClass();
    static PSSpecifier* from(id);
    // A row (autoreleased) from its property-list entry, an NSDictionary (nil: no properties);
    // a missing or unknown "cell" makes a static text row. The target is held weakly.
    static id create(id properties, id target);

    // The row's own mutable copy of its entry.
    id properties() const { return m_properties.get(); }
    id propertyForKey(id key) const;
    // The "id" property, else the label.
    ObjC::RetainPtr identifier() const;
    int64_t cellType() const { return m_cellType; }
    id name() const;
    // The object whose methods the row calls; not owned (the controller owns its rows).
    ObjC::RetainPtr target() const { return m_target.get(); }
    // The button's action, a null selector for other rows.
    SEL buttonAction() const { return m_action; }

    // C++ conveniences.
    id property(const char* key) const;
    std::optional<std::string> stringProperty(const char* key) const;
    std::optional<Platform::Plist::Value> propertyValue(const char* key) const;
    std::string identifierText() const;

private:
    ObjC::RetainPtr m_properties;
    int64_t m_cellType { PSStaticTextCell };
    ObjC::WeakPtr m_target;
    SEL m_action { nullptr };
};

} // namespace Preferences
