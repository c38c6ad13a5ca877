#include "PrefsTestSupport.h"
#include "platform/foundation/FoundationValue.h"
#include "platform/notify/NotifyTesting.h"

#include <array>
#include <cairo.h>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

namespace PrefsTesting {

Dictionary dictionary(std::initializer_list<std::pair<const char*, Value>> entries)
{
    Dictionary result;
    for (auto& [key, value] : entries)
        result.set(key, value);
    return result;
}

void PrefsTest::SetUp()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-prefs-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary device");
    m_root = std::filesystem::canonical(pattern).string();
    Platform::setDeviceRoot(m_root);
    std::filesystem::create_directories(hostPath(settingsFolder));
    Platform::resetNotifyForTesting();
    UIKit::UIScreen::configureMainScreen(375, 667, 2);
}

void PrefsTest::TearDown()
{
    Platform::resetNotifyForTesting();
    while (UIGraphicsGetCurrentContext())
        UIGraphicsEndImageContext();
    UIKit::UIScreen::configureMainScreen(375, 667, 2);
    Platform::clearDeviceRoot();
    std::error_code error;
    std::filesystem::remove_all(m_root, error);
}

std::string PrefsTest::hostPath(std::string_view devicePath) const { return m_root + std::string(devicePath); }

void PrefsTest::writeFile(std::string_view devicePath, std::string_view contents, unsigned mode) const
{
    std::filesystem::path path = hostPath(devicePath);
    std::filesystem::create_directories(path.parent_path());
    {
        std::ofstream stream(path, std::ios::binary | std::ios::trunc);
        stream << contents;
    }
    ::chmod(path.c_str(), mode);
}

std::optional<std::string> PrefsTest::readFile(std::string_view devicePath) const
{
    std::ifstream stream(hostPath(devicePath), std::ios::binary);
    if (!stream)
        return std::nullopt;
    std::ostringstream contents;
    contents << stream.rdbuf();
    return contents.str();
}

void PrefsTest::writeSettings(Dictionary entries) const
{
    ASSERT_TRUE(Platform::Plist::writeFileAtomically(hostPath(settingsPath), Value(std::move(entries))));
}

std::optional<Dictionary> PrefsTest::settings() const
{
    auto file = Platform::Plist::readFile(hostPath(settingsPath));
    if (!file.ok() || !file.value.asDictionary())
        return std::nullopt;
    return *file.value.asDictionary();
}

void PrefsTest::fakeDpkgQuery(std::string_view scriptBody) const
{
    writeFile(dpkgQueryPath, "#!/bin/sh\n" + std::string(scriptBody), 0755);
}

void PrefsTest::fakeDpkgQueryPrinting(std::string_view bytes) const
{
    // The bytes go through a file, so that no shell quoting can change them.
    writeFile("/fake-dpkg-output", bytes);
    fakeDpkgQuery("exec /bin/cat '" + hostPath("/fake-dpkg-output") + "'\n");
}

void PrefsTest::writeRoot(std::string_view bytes) const
{
    std::filesystem::create_directories(bundleFolder());
    std::ofstream(bundleFolder() + "/Root.plist", std::ios::binary | std::ios::trunc) << bytes;
}

void PrefsTest::writeRoot(const std::vector<Dictionary>& rows) const
{
    Array items;
    for (auto& row : rows)
        items.push_back(Value(row));
    Dictionary root;
    root.set("items", Value(std::move(items)));
    root.set("title", Value::string("Kestrel"));
    writeRoot(Platform::Plist::toXml(Value(std::move(root))));
}

RetainPtr PrefsTest::makeController(const std::vector<Dictionary>& rows)
{
    writeRoot(rows);
    Class cls = getClass("kestrelprefsRootListController");
    if (!cls)
        throw std::logic_error("the bundle's controller class is not registered");
    Preferences::setBundlePathForClass(cls, bundleFolder());
    return allocInit(cls);
}

RetainPtr PrefsTest::row(Dictionary properties, id target)
{
    return PSSpecifier::create(Platform::foundationObject(Value(std::move(properties))), target);
}

std::optional<Value> PrefsTest::read(id controller, id specifier)
{
    return Platform::propertyListValue(send<id>(controller, sel("readPreferenceValue:"), specifier));
}

void PrefsTest::write(id controller, std::optional<Value> value, id specifier)
{
    send(controller, sel("setPreferenceValue:specifier:"), value ? Platform::foundationObject(*value) : nullptr, specifier);
}

std::optional<std::string> textOf(id object) { return Platform::stringValue(object); }

void PrefsTest::monitorNotifications()
{
    Platform::addNotifyMonitor([this](std::string_view name) {
        std::lock_guard guard(m_postedLock);
        m_posted.emplace_back(name);
    });
}

std::vector<std::string> PrefsTest::postedNames()
{
    Platform::drainNotifyDeliveries();
    std::lock_guard guard(m_postedLock);
    return m_posted;
}

std::optional<std::string> commandOutput(const std::string& command)
{
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return std::nullopt;
    std::string output;
    std::array<char, 4096> buffer;
    size_t count;
    while ((count = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        output.append(buffer.data(), count);
    if (::pclose(pipe) != 0)
        return std::nullopt;
    return output;
}

void writeSolidPNG(const std::string& hostPath, int width, int height, double red, double green, double blue)
{
    std::filesystem::create_directories(std::filesystem::path(hostPath).parent_path());
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* context = cairo_create(surface);
    cairo_set_source_rgb(context, red, green, blue);
    cairo_paint(context);
    cairo_destroy(context);
    ASSERT_EQ(cairo_surface_write_to_png(surface, hostPath.c_str()), CAIRO_STATUS_SUCCESS);
    cairo_surface_destroy(surface);
}

} // namespace PrefsTesting
