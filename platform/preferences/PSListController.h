// PSListController: the controller of one settings page. It owns the page's
// rows (the `_specifiers` cache), reads and writes their values, and is what
// the Settings app talks to. Subclasses override `specifiers`,
// `readPreferenceValue:` and `setPreferenceValue:specifier:`; every call the
// framework makes to them goes through message dispatch.
#pragma once

#include "platform/plist/Value.h"
#include "platform/preferences/PSSpecifier.h"
#include "runtime/Runtime.h"

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace Preferences {

class PSListController : public Runtime::NSObject {
public:
    static Runtime::Class* runtimeClass();

    // The base answers the cached rows as they are.
    Runtime::RefPtr<Runtime::Object> specifiers() { return m_specifiers; }
    // The rows of the bundle's NAME.plist ("items"), each targeting target; nil
    // when the file cannot be read as a specifier list.
    Runtime::RefPtr<Runtime::Object> loadSpecifiersFromPlistName(Runtime::Object* name, Runtime::Object* target);
    // Rebuilds the page: asks for the rows again and reads every value again.
    void reloadSpecifiers();
    // Reads the value of the row with that identifier again.
    void reloadSpecifierID(Runtime::Object* identifier);
    Runtime::RefPtr<Runtime::Object> specifierForID(Runtime::Object* identifier);
    // The base reads and writes the file of the row's "defaults" domain.
    std::optional<Platform::Plist::Value> readPreferenceValue(Runtime::Object* specifier);
    void setPreferenceValue(std::optional<Platform::Plist::Value>, Runtime::Object* specifier);

    // What the page shows: each row with the value last read for it.
    struct ShownRow {
        Runtime::RefPtr<PSSpecifier> specifier;
        std::optional<Platform::Plist::Value> value;
    };
    const std::vector<ShownRow>& shownRows() const { return m_shownRows; }
    // How often the page was rebuilt and rows were loaded, and which rows were re-read.
    unsigned reloadCount() const { return m_reloadCount; }
    unsigned loadCount() const { return m_loadCount; }
    const std::vector<std::string>& reloadedSpecifierIDs() const { return m_reloadedSpecifierIDs; }

    // The cached row list (ivar `_specifiers`).
    Runtime::RefPtr<Runtime::Object> m_specifiers;

private:
    std::vector<ShownRow> m_shownRows;
    unsigned m_reloadCount { 0 };
    unsigned m_loadCount { 0 };
    std::vector<std::string> m_reloadedSpecifierIDs;
    std::set<std::string> m_reloadingIDs;
};

// Where a controller class's bundle lives (host path), as the Settings app
// learned when it loaded the bundle. Subclasses inherit their superclass's.
void setBundlePathForClass(Runtime::Class*, std::string hostPath);
std::optional<std::string> bundlePathForClass(const Runtime::Class*);

// Registers UIKit (if needed) and the Preferences classes.
void registerPreferencesClasses();

} // namespace Preferences
