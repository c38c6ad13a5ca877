#include "platform/preferences/PSListController.h"

#include "platform/fs/DeviceRoot.h"
#include "platform/notify/Notify.h"
#include "platform/plist/PropertyList.h"

#include <map>
#include <mutex>

using namespace Runtime;
using namespace Platform::Plist;

namespace Preferences {

namespace {

const ClassReference s_class("PSListController");

std::mutex s_bundleLock;
std::map<const Class*, std::string>& bundlePaths()
{
    static auto* paths = new std::map<const Class*, std::string>;
    return *paths;
}

// The settings file of a "defaults" domain; nullopt for a name that is not a plain file name.
std::optional<std::string> domainPath(const PSSpecifier& specifier)
{
    auto domain = specifier.stringProperty("defaults");
    if (!domain || domain->empty() || domain->find('/') != std::string::npos || *domain == "." || *domain == "..")
        return std::nullopt;
    return Platform::resolve("/var/mobile/Library/Preferences/" + *domain + ".plist");
}

} // namespace

Class* PSListController::runtimeClass() { return s_class.get(); }

void setBundlePathForClass(Class* cls, std::string hostPath)
{
    std::lock_guard guard(s_bundleLock);
    bundlePaths()[cls] = std::move(hostPath);
}

std::optional<std::string> bundlePathForClass(const Class* cls)
{
    std::lock_guard guard(s_bundleLock);
    for (const Class* current = cls; current; current = current->superclass()) {
        auto found = bundlePaths().find(current);
        if (found != bundlePaths().end())
            return found->second;
    }
    return std::nullopt;
}

RefPtr<Object> PSListController::loadSpecifiersFromPlistName(Object* name, Object* target)
{
    ++m_loadCount;
    auto plistName = stringValue(name);
    auto bundle = bundlePathForClass(isa());
    if (!plistName || !bundle || plistName->find('/') != std::string::npos)
        return nullptr;
    auto file = readFile(*bundle + "/" + *plistName + ".plist");
    if (!file.ok() || !file.value.asDictionary())
        return nullptr;
    auto* items = file.value.asDictionary()->find("items");
    if (!items || !items->asArray())
        return nullptr;
    std::vector<RefPtr<Object>> specifiers;
    for (auto& item : *items->asArray()) {
        if (auto* properties = item.asDictionary())
            specifiers.push_back(PSSpecifier::create(*properties, target));
    }
    return NSArray::create(std::move(specifiers));
}

void PSListController::reloadSpecifiers()
{
    ++m_reloadCount;
    auto list = send<RefPtr<NSArray>>(this, "specifiers");
    std::vector<RefPtr<PSSpecifier>> specifiers;
    if (list) {
        for (auto& object : list->objects()) {
            if (auto* specifier = dynamic_cast<PSSpecifier*>(object.get()))
                specifiers.push_back(RefPtr<PSSpecifier>(specifier));
        }
    }
    m_shownRows.clear();
    for (auto& specifier : specifiers)
        m_shownRows.push_back({ specifier, std::nullopt });
    // Values are read once the rows are in place, as a table asks for its cells.
    for (size_t i = 0; i < specifiers.size(); ++i) {
        if (!cellTypeHoldsValue(specifiers[i]->cellType()))
            continue;
        auto value = send<std::optional<Value>>(this, "readPreferenceValue:", specifiers[i].get());
        if (i < m_shownRows.size() && m_shownRows[i].specifier == specifiers[i])
            m_shownRows[i].value = std::move(value);
    }
}

void PSListController::reloadSpecifierID(Object* identifier)
{
    auto id = stringValue(identifier);
    if (!id)
        return;
    m_reloadedSpecifierIDs.push_back(*id);
    // A row whose reading asks for itself to be read again would never end.
    if (m_reloadingIDs.count(*id))
        return;
    m_reloadingIDs.insert(*id);
    for (auto& row : m_shownRows) {
        if (row.specifier->identifierText() == *id && cellTypeHoldsValue(row.specifier->cellType())) {
            auto value = send<std::optional<Value>>(this, "readPreferenceValue:", row.specifier.get());
            // The read may itself have rebuilt the page; look the row up again.
            for (auto& current : m_shownRows) {
                if (current.specifier->identifierText() == *id)
                    current.value = value;
            }
            break;
        }
    }
    m_reloadingIDs.erase(*id);
}

RefPtr<Object> PSListController::specifierForID(Object* identifier)
{
    auto id = stringValue(identifier);
    auto* list = dynamic_cast<NSArray*>(m_specifiers.get());
    if (!id || !list)
        return nullptr;
    for (auto& object : list->objects()) {
        auto* specifier = dynamic_cast<PSSpecifier*>(object.get());
        if (specifier && specifier->identifierText() == *id)
            return object;
    }
    return nullptr;
}

std::optional<Value> PSListController::readPreferenceValue(Object* object)
{
    auto* specifier = dynamic_cast<PSSpecifier*>(object);
    if (!specifier)
        return std::nullopt;
    auto key = specifier->stringProperty("key");
    auto path = domainPath(*specifier);
    if (key && path) {
        auto file = readFile(*path);
        if (file.ok() && file.value.asDictionary()) {
            if (auto* value = file.value.asDictionary()->find(*key))
                return *value;
        }
    }
    if (auto* fallback = specifier->propertyList().find("default"))
        return *fallback;
    return std::nullopt;
}

void PSListController::setPreferenceValue(std::optional<Value> value, Object* object)
{
    auto* specifier = dynamic_cast<PSSpecifier*>(object);
    if (!specifier || !value)
        return;
    auto key = specifier->stringProperty("key");
    auto path = domainPath(*specifier);
    if (!key || !path)
        return;
    auto file = readFile(*path);
    Dictionary settings;
    if (file.ok() && file.value.asDictionary())
        settings = *file.value.asDictionary();
    settings.set(*key, *value);
    writeFileAtomically(*path, Value(std::move(settings)));
    if (auto name = specifier->stringProperty("PostNotification"))
        Platform::postNotification(*name);
}

} // namespace Preferences
