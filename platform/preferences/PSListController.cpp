#include "platform/preferences/PSListController.h"

#include "platform/foundation/FoundationValue.h"
#include "platform/fs/DeviceRoot.h"
#include "platform/notify/Notify.h"
#include "platform/plist/PropertyList.h"
#include "platform/uikit/UIKitObjects.h"

#include <map>
#include <mutex>

using namespace Platform::Plist;
using ObjC::send;
using ObjC::sel;

namespace Preferences {

namespace {

std::mutex s_bundleLock;
std::map<Class, std::string>& bundlePaths()
{
    static auto* paths = new std::map<Class, std::string>;
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

// The objects of an NSArray that are rows, in order.
std::vector<ObjC::RetainPtr> specifiersIn(id list)
{
    static SEL const count = sel("count");
    static SEL const objectAtIndex = sel("objectAtIndex:");
    std::vector<ObjC::RetainPtr> specifiers;
    if (!UIKit::isKindOf(list, ObjC::getClass("NSArray")))
        return specifiers;
    unsigned long size = send<unsigned long>(list, count);
    for (unsigned long index = 0; index < size; ++index) {
        id object = send<id>(list, objectAtIndex, index);
        if (PSSpecifier::from(object))
            specifiers.emplace_back(object);
    }
    return specifiers;
}

} // namespace

Class PSListController::runtimeClass() { return ObjC::CxxClass<PSListController>::runtimeClass(); }

PSListController* PSListController::from(id object) { return UIKit::stateIfKindOf<PSListController>(object); }

Ivar PSListController::specifiersIvar()
{
    static Ivar const ivar = ObjC::instanceVariable(runtimeClass(), "_specifiers");
    return ivar;
}

id PSListController::self() const { return ObjC::selfOf(this); }

PSListController::~PSListController()
{
    id* list = ObjC::ivarAddress<id>(self(), specifiersIvar());
    if (!list)
        return;
    ObjC::release(*list);
    *list = nullptr;
}

void setBundlePathForClass(Class cls, std::string hostPath)
{
    std::lock_guard guard(s_bundleLock);
    bundlePaths()[cls] = std::move(hostPath);
}

std::optional<std::string> bundlePathForClass(Class cls)
{
    std::lock_guard guard(s_bundleLock);
    for (Class current = cls; current; current = class_getSuperclass(current)) {
        auto found = bundlePaths().find(current);
        if (found != bundlePaths().end())
            return found->second;
    }
    return std::nullopt;
}

bool isSubclassOf(Class cls, Class superclass)
{
    for (Class current = cls; current && superclass; current = class_getSuperclass(current)) {
        if (current == superclass)
            return true;
    }
    return false;
}

id PSListController::specifiers() const { return ObjC::objectIvar(self(), specifiersIvar()); }

id PSListController::loadSpecifiersFromPlistName(id name, id target)
{
    ++m_loadCount;
    auto plistName = Platform::stringValue(name);
    auto bundle = bundlePathForClass(ObjC::classOf(self()));
    if (!plistName || !bundle || plistName->find('/') != std::string::npos)
        return nullptr;
    auto file = readFile(*bundle + "/" + *plistName + ".plist");
    if (!file.ok() || !file.value.asDictionary())
        return nullptr;
    auto* items = file.value.asDictionary()->find("items");
    if (!items || !items->asArray())
        return nullptr;
    std::vector<ObjC::RetainPtr> specifiers;
    for (auto& item : *items->asArray()) {
        if (item.asDictionary())
            specifiers.emplace_back(PSSpecifier::create(Platform::foundationObject(item), target));
    }
    return UIKit::arrayOf(specifiers);
}

void PSListController::reloadSpecifiers()
{
    static SEL const specifiersSelector = sel("specifiers");
    static SEL const readPreferenceValueSelector = sel("readPreferenceValue:");
    ++m_reloadCount;
    auto specifiers = specifiersIn(send<id>(self(), specifiersSelector));
    m_shownRows.clear();
    for (auto& specifier : specifiers)
        m_shownRows.push_back({ specifier, nullptr });
    // Values are read once the rows are in place, as a table asks for its cells.
    for (size_t i = 0; i < specifiers.size(); ++i) {
        if (!cellTypeHoldsValue(PSSpecifier::from(specifiers[i])->cellType()))
            continue;
        ObjC::RetainPtr value = send<id>(self(), readPreferenceValueSelector, specifiers[i].get());
        if (i < m_shownRows.size() && m_shownRows[i].specifier.get() == specifiers[i].get())
            m_shownRows[i].value = std::move(value);
    }
}

void PSListController::reloadSpecifierID(id identifier)
{
    static SEL const readPreferenceValueSelector = sel("readPreferenceValue:");
    auto wanted = Platform::stringValue(identifier);
    if (!wanted)
        return;
    m_reloadedSpecifierIDs.push_back(*wanted);
    // A row whose reading asks for itself to be read again would never end.
    if (m_reloadingIDs.count(*wanted))
        return;
    m_reloadingIDs.insert(*wanted);
    ObjC::RetainPtr found;
    for (auto& row : m_shownRows) {
        PSSpecifier* specifier = PSSpecifier::from(row.specifier);
        if (specifier->identifierText() == *wanted && cellTypeHoldsValue(specifier->cellType())) {
            found = row.specifier;
            break;
        }
    }
    if (found) {
        ObjC::RetainPtr value = send<id>(self(), readPreferenceValueSelector, found.get());
        // The read may itself have rebuilt the page; look the row up again.
        for (auto& current : m_shownRows) {
            if (PSSpecifier::from(current.specifier)->identifierText() == *wanted)
                current.value = value;
        }
    }
    m_reloadingIDs.erase(*wanted);
}

id PSListController::specifierForID(id identifier) const
{
    auto wanted = Platform::stringValue(identifier);
    if (!wanted)
        return nullptr;
    for (auto& specifier : specifiersIn(specifiers())) {
        if (PSSpecifier::from(specifier)->identifierText() == *wanted)
            return specifier.get();
    }
    return nullptr;
}

id PSListController::readPreferenceValue(id object) const
{
    PSSpecifier* specifier = PSSpecifier::from(object);
    if (!specifier)
        return nullptr;
    auto key = specifier->stringProperty("key");
    auto path = domainPath(*specifier);
    if (key && path) {
        auto file = readFile(*path);
        if (file.ok() && file.value.asDictionary()) {
            if (auto* value = file.value.asDictionary()->find(*key))
                return Platform::foundationObject(*value);
        }
    }
    return specifier->property("default");
}

void PSListController::setPreferenceValue(id given, id object)
{
    PSSpecifier* specifier = PSSpecifier::from(object);
    auto value = Platform::propertyListValue(given);
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
    settings.set(*key, std::move(*value));
    writeFileAtomically(*path, Value(std::move(settings)));
    if (auto name = specifier->stringProperty("PostNotification"))
        Platform::postNotification(*name);
}

} // namespace Preferences
