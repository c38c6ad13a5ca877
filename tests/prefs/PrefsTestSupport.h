// Standing the settings bundle up in the test process: a throw-away device, the bundle's
// classes (linked in, so registered when the program starts), the controller's bundle in a
// folder of the test's own, and helpers to write files, fake the device's tools and watch
// notifications.
#pragma once

#include "platform/fs/DeviceRoot.h"
#include "platform/notify/Notify.h"
#include "platform/plist/PropertyList.h"
#include "platform/preferences/PSListController.h"
#include "platform/preferences/PSTableCell.h"
#include "platform/uikit/UIKit.h"
#include "runtime/CxxClass.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Readable geometry in failure messages.
inline void PrintTo(const CGRect& rect, std::ostream* stream)
{
    *stream << "(" << rect.origin.x << ", " << rect.origin.y << ", " << rect.size.width << ", " << rect.size.height
            << ")";
}
inline void PrintTo(const CGSize& size, std::ostream* stream) { *stream << size.width << " x " << size.height; }

namespace PrefsTesting {

using namespace ObjC;
using Platform::Plist::Array;
using Platform::Plist::Dictionary;
using Platform::Plist::Value;
using Preferences::PSListController;
using Preferences::PSSpecifier;

inline constexpr const char* settingsPath = "/var/mobile/Library/Preferences/com.plover.kestrelprefs.plist";
inline constexpr const char* settingsFolder = "/var/mobile/Library/Preferences";
inline constexpr const char* dpkgQueryPath = "/usr/bin/dpkg-query";
inline constexpr const char* iconPath = "/Library/PreferenceBundles/KestrelPrefs.bundle/KestrelIcon.png";
inline constexpr const char* respringName = "com.plover.kestrel.respring";

// A property-list dictionary from key/value pairs.
Dictionary dictionary(std::initializer_list<std::pair<const char*, Value>>);

class PrefsTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    const std::string& root() const { return m_root; }
    // The host path of a device path.
    std::string hostPath(std::string_view devicePath) const;
    // Writes a device file, making its folders.
    void writeFile(std::string_view devicePath, std::string_view contents, unsigned mode = 0644) const;
    std::optional<std::string> readFile(std::string_view devicePath) const;

    // Replaces the settings file with exactly these entries, as XML.
    void writeSettings(Dictionary) const;
    // The settings file's dictionary; nullopt when missing or unreadable.
    std::optional<Dictionary> settings() const;

    // The device's /usr/bin/dpkg-query becomes this shell script (body after "#!/bin/sh").
    void fakeDpkgQuery(std::string_view scriptBody) const;
    // A dpkg-query that prints exactly these bytes and exits 0.
    void fakeDpkgQueryPrinting(std::string_view bytes) const;

    // A new controller whose bundle is a folder of this test holding a Root.plist with these rows.
    RetainPtr makeController(const std::vector<Dictionary>& rows);
    // Rewrites the test bundle's Root.plist (raw bytes, so it may be anything).
    void writeRoot(std::string_view bytes) const;
    void writeRoot(const std::vector<Dictionary>& rows) const;
    std::string bundleFolder() const { return m_root + "/test-bundle"; }

    // A row made directly, without a Root.plist.
    static RetainPtr row(Dictionary properties, id target);
    // readPreferenceValue: and setPreferenceValue:specifier:, with values as the codec's.
    static std::optional<Value> read(id controller, id specifier);
    static void write(id controller, std::optional<Value>, id specifier);

    // Every notification posted on the device from now on, in order.
    void monitorNotifications();
    std::vector<std::string> postedNames();

private:
    std::string m_root;
    std::mutex m_postedLock;
    std::vector<std::string> m_posted;
};

// The C++ side of a controller, a row, a view.
inline PSListController& controllerState(id controller) { return *PSListController::from(controller); }
inline PSSpecifier& specifierState(id specifier) { return *PSSpecifier::from(specifier); }
// The object an instance variable holds, by name.
inline id ivarNamed(id object, const char* name) { return ObjC::objectIvar(object, name); }
// An NSString of the text (autoreleased).
inline id text(const char* utf8) { return ObjC::string(utf8); }
// The text of an NSString; nullopt for nil and other objects.
std::optional<std::string> textOf(id);

// Runs a shell command and answers its standard output; nullopt if it failed.
std::optional<std::string> commandOutput(const std::string& command);

// A PNG of one colour written with cairo directly, independent of the code under test.
void writeSolidPNG(const std::string& hostPath, int width, int height, double red, double green, double blue);

} // namespace PrefsTesting
