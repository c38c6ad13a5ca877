// The settings pane's rows as the Settings app shows them, in order and with the
// values read now: what `kestrel settings list` prints and what the simulator page draws.
#pragma once

#include "host/settings/SettingsPane.h"
#include "platform/plist/Value.h"

#include <optional>
#include <string>
#include <vector>

namespace Kestrel {

struct PaneRow {
    // "header" and "footer" (a group's custom view), "group", "button", or the cell's
    // type in a word: "switch", "slider", "edittext", "statictext"...
    std::string type;
    std::optional<std::string> label;
    std::optional<std::string> key; // rows that hold a value
    std::optional<std::string> action; // buttons
    std::string viewClass; // header and footer: the custom view's class
    std::string viewText; // header and footer: the text of its labels, front to back
    std::optional<std::string> note; // a group's footer text, shown below its rows
    bool holdsValue { false };
    std::optional<Platform::Plist::Value> value;
    std::optional<double> minimum, maximum; // sliders
};

std::vector<PaneRow> paneListing(SettingsHost::SettingsPane&);

// A value row as the list shows it: the value the engine uses (a switch "on" or "off", an
// interval "2.0 s"), and a note when what is stored differs from it or lies outside the
// slider's range ("" when nothing is to be said). Rows the engine does not read show their
// value as stored.
struct ShownValue {
    std::string text;
    std::string note;
};
ShownValue shownValue(const PaneRow&);

// "PSSwitchCell" reads "switch".
std::string cellTypeWord(int64_t cellType);

} // namespace Kestrel
