// The controller of the settings pane's root page: its rows come from the
// bundle's "Root" specifier list; every value is read from the settings file
// at the moment it is shown and written back at once, keeping every other entry.
#pragma once

#include "platform/preferences/PSListController.h"

extern "C" __attribute__((visibility("default"))) const char* const nsPreferencesPath;

class kestrelprefsRootListController final : public Preferences::PSListController {
public:
    Runtime::RefPtr<Runtime::Object> specifiers();
    std::optional<Platform::Plist::Value> readPreferenceValue(Runtime::Object* specifier);
    void setPreferenceValue(std::optional<Platform::Plist::Value>, Runtime::Object* specifier);
    void respring();
    void twitterlink();

    bool shouldReload() const { return m_shouldReload; }
    void setShouldReload(bool shouldReload) { m_shouldReload = shouldReload; }

private:
    bool m_shouldReload { false };
};

// The address the pane's profile button opens.
extern const char* const kestrelProfileAddress;

// How the pane shows a value inside text: as the platform's formatter does (nil is "(null)").
std::string describeValue(const std::optional<Platform::Plist::Value>&);
