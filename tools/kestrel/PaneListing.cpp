#include "tools/kestrel/PaneListing.h"

#include "platform/foundation/FoundationValue.h"

#include <cctype>

namespace Kestrel {

namespace {

std::optional<double> numberProperty(const Preferences::PSSpecifier& specifier, const char* key)
{
    auto value = specifier.propertyValue(key);
    if (!value || !(value->isInteger() || value->isReal()))
        return std::nullopt;
    return value->doubleValue();
}

} // namespace

std::string cellTypeWord(int64_t cellType)
{
    std::string name = Preferences::cellTypeName(cellType);
    if (name.starts_with("PS"))
        name = name.substr(2);
    if (name.ends_with("Cell"))
        name.resize(name.size() - 4);
    for (char& character : name)
        character = char(std::tolower(static_cast<unsigned char>(character)));
    return name;
}

std::vector<PaneRow> paneListing(SettingsHost::SettingsPane& pane)
{
    std::vector<PaneRow> listing;
    for (auto& shown : pane.rows()) {
        auto& specifier = *Preferences::PSSpecifier::from(shown.specifier);
        int64_t type = specifier.cellType();
        PaneRow row;
        row.label = specifier.stringProperty("label");
        if (type == Preferences::PSGroupCell) {
            auto note = specifier.stringProperty("footerText");
            bool custom = false;
            for (auto [property, word] :
                { std::pair { "headerCellClass", "header" }, std::pair { "footerCellClass", "footer" } }) {
                auto view = pane.customView(shown.specifier, property);
                if (!view)
                    continue;
                PaneRow viewRow;
                viewRow.type = word;
                viewRow.viewClass = class_getName(ObjC::classOf(view));
                viewRow.viewText = SettingsHost::labelTexts(view);
                viewRow.note = note;
                listing.push_back(std::move(viewRow));
                custom = true;
            }
            if (!custom) {
                row.type = "group";
                row.note = note;
                listing.push_back(std::move(row));
            }
            continue;
        }
        if (type == Preferences::PSButtonCell) {
            row.type = "button";
            row.action = specifier.stringProperty("action");
            listing.push_back(std::move(row));
            continue;
        }
        row.type = cellTypeWord(type);
        row.key = specifier.stringProperty("key");
        row.holdsValue = Preferences::cellTypeHoldsValue(type);
        if (row.holdsValue)
            row.value = Platform::propertyListValue(shown.value);
        if (type == Preferences::PSSliderCell) {
            row.minimum = numberProperty(specifier, "min");
            row.maximum = numberProperty(specifier, "max");
        }
        listing.push_back(std::move(row));
    }
    return listing;
}

} // namespace Kestrel
