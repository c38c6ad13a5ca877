// The pane as a person sees it in the Settings app, drawn into a PNG: the
// navigation bar, the custom header, grouped rows with their current values
// (switches, sliders, buttons), group notes and the custom footer, at the
// main screen's width and scale.
#pragma once

#include "host/settings/SettingsPane.h"

#include <optional>
#include <string>

namespace SettingsHost {

// Draws the pane into a PNG file, or says why no image was written. The caller keeps an
// autorelease pool.
Platform::Expected<void> renderPane(SettingsPane&, const std::string& hostPath);

// The device's screen, from its Screen.plist (375 by 667 points at scale 2 without one).
void configureScreenFromDevice();

} // namespace SettingsHost
