// PSListController: the controller of one settings page. It owns the page's rows (the
// `_specifiers` instance variable, which subclasses read and write by name), reads and writes
// their values, and is what the Settings app talks to. Subclasses override `specifiers`,
// `readPreferenceValue:` and `setPreferenceValue:specifier:`; every call the framework makes to
// them goes through message dispatch.
#pragma once

#include "platform/preferences/PSSpecifier.h"
#include "runtime/ObjC.h"

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace Preferences {

// The C++ side of a PSListController instance.
class PSListController {
public:
    static Class runtimeClass();
    static PSListController* from(id);
    PSListController() = default;
    // Lets go of the cached rows.
    ~PSListController();
    PSListController(const PSListController&) = delete;
    PSListController& operator=(const PSListController&) = delete;

    // The base answers the cached rows as they are.
    id specifiers() const;
    // The rows (an NSArray, autoreleased) of the bundle's NAME.plist ("items"), each targeting
    // target; nil when the file cannot be read as a specifier list.
    id loadSpecifiersFromPlistName(id name, id target);
    // Rebuilds the page: asks for the rows again and reads every value again.
    void reloadSpecifiers();
    // Reads the value of the row with that identifier again.
    void reloadSpecifierID(id identifier);
    id specifierForID(id identifier) const;
    // The base reads and writes the file of the row's "defaults" domain.
    id readPreferenceValue(id specifier) const;
    void setPreferenceValue(id value, id specifier);

    // What the page shows: each row with the value last read for it (nil for none).
    struct ShownRow {
        ObjC::RetainPtr specifier;
        ObjC::RetainPtr value;
    };
    const std::vector<ShownRow>& shownRows() const { return m_shownRows; }
    // How often the page was rebuilt and rows were loaded, and which rows were re-read.
    unsigned reloadCount() const { return m_reloadCount; }
    unsigned loadCount() const { return m_loadCount; }
    const std::vector<std::string>& reloadedSpecifierIDs() const { return m_reloadedSpecifierIDs; }

    // The instance variable `_specifiers`, which holds its list retained.
    static Ivar specifiersIvar();

private:
    id self() const;

    std::vector<ShownRow> m_shownRows;
    unsigned m_reloadCount { 0 };
    unsigned m_loadCount { 0 };
    std::vector<std::string> m_reloadedSpecifierIDs;
    std::set<std::string> m_reloadingIDs;
};

// Where a controller class's bundle lives (host path), as the Settings app learned when it
// loaded the bundle. Subclasses inherit their superclass's.
void setBundlePathForClass(Class, std::string hostPath);
std::optional<std::string> bundlePathForClass(Class);

// Whether cls is superclass or one of its subclasses.
bool isSubclassOf(Class cls, Class superclass);

// Registers UIKit (if needed) and the Preferences classes.
void registerPreferencesClasses();

} // namespace Preferences
