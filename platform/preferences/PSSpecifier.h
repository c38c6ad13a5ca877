// PSSpecifier: one row of a settings page, made from an entry of the page's
// specifier property list. Its properties are that entry as it stands.
#pragma once

#include "platform/plist/Value.h"
#include "runtime/Runtime.h"

#include <optional>
#include <string>

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

class PSSpecifier final : public Runtime::NSObject {
public:
    static Runtime::Class* runtimeClass();
    // A row from its property-list entry; a missing or unknown "cell" makes a static text row.
    static Runtime::Ref<PSSpecifier> create(Platform::Plist::Dictionary properties, Runtime::Object* target);

    Platform::Plist::Dictionary properties() const { return m_properties; }
    std::optional<Platform::Plist::Value> propertyForKey(Runtime::Object* key) const;
    // The "id" property, else the label.
    Runtime::RefPtr<Runtime::Object> identifier() const;
    int64_t cellType() const { return m_cellType; }
    Runtime::RefPtr<Runtime::Object> name() const;
    // The object whose methods the row calls; not owned (the controller owns its rows).
    Runtime::RefPtr<Runtime::Object> target() const { return m_target.get(); }
    // The button's action, a null selector for other rows.
    Runtime::Selector buttonAction() const { return m_action; }

    // C++ conveniences.
    const Platform::Plist::Dictionary& propertyList() const { return m_properties; }
    std::optional<std::string> stringProperty(std::string_view key) const;
    std::string identifierText() const;

private:
    Platform::Plist::Dictionary m_properties;
    int64_t m_cellType { PSStaticTextCell };
    Runtime::WeakPtr<Runtime::Object> m_target;
    Runtime::Selector m_action;
};

} // namespace Preferences
