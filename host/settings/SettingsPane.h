// The Settings app's side of a preference pane: it finds the pane's entry in
// PreferenceLoader's folder, loads the bundle the entry names (its Info.plist,
// its executable with dlopen), makes the controller by class name and shows
// its rows. Everything after loading goes through message dispatch.
#pragma once

#include "platform/plist/Value.h"
#include "platform/preferences/PSListController.h"
#include "platform/preferences/PSTableCell.h"

#include "platform/Expected.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace SettingsHost {

class SettingsPane {
public:
    // Opens the pane of the entry /Library/PreferenceLoader/Preferences/ENTRY.plist (under
    // /var/jb on a rootless device) on the current device, or says why it cannot be loaded. The
    // caller keeps an autorelease pool for as long as it uses the pane.
    static Platform::Expected<std::unique_ptr<SettingsPane>> open(const std::string& entryName = "KestrelPrefs");

    id controller() const { return m_controller.get(); }
    const std::string& bundlePath() const { return m_bundlePath; }

    // Shows the page afresh: the rows and every value, read now.
    const std::vector<Preferences::PSListController::ShownRow>& rows();

    // A group's custom header or footer view, made by class name as the
    // framework makes it; nil when the group names none or the class is not one.
    ObjC::RetainPtr customView(id group, const char* property) const;

    // The value row with this key (nil when there is none).
    ObjC::RetainPtr rowWithKey(const std::string& key);
    // The button with this action (nil when there is none).
    ObjC::RetainPtr buttonWithAction(const std::string& action);

    // Changes the row with this key as a tap would, to the value a word typed for it
    // names: a switch reads yes/no, on/off, true/false or 1/0 in any case, a slider a
    // number (Device::parseNumber) in its range, a text field the word's text. A quoted
    // word is text only. Fails with why nothing was written, with the word as typed.
    Platform::Expected<void> setValue(const std::string& key, const std::string& typed);
    // Presses the button with this action.
    Platform::Expected<void> tap(const std::string& action);

private:
    SettingsPane() = default;
    ObjC::RetainPtr m_controller;
    std::string m_bundlePath;
};

// The text of every label in a view tree, front to back, joined by " / ".
std::string labelTexts(id view);

// How a row's value reads in a listing: yes/no, a number, "text", or - for none.
std::string displayValue(const std::optional<Platform::Plist::Value>&);
std::string displayValue(id);

} // namespace SettingsHost
