// Registers the Preferences classes in the runtime when the library loads, after UIKit's.
#include "platform/preferences/PSListController.h"
#include "platform/preferences/PSTableCell.h"
#include "platform/uikit/UIKit.h"
#include "runtime/CxxClass.h"

namespace Preferences {

using ObjC::CxxClass;

void registerPreferencesClasses()
{
    UIKit::registerUIKitClasses();
    if (ObjC::getClass("PSTableCell"))
        return;
    Class object = ObjC::getClass("NSObject");
    CxxClass<PSSpecifier>::define("PSSpecifier", object)
        .method<&PSSpecifier::properties>("properties")
        .method<&PSSpecifier::propertyForKey>("propertyForKey:")
        .method<&PSSpecifier::identifier>("identifier")
        .method<&PSSpecifier::cellType>("cellType")
        .method<&PSSpecifier::name>("name")
        .method<&PSSpecifier::target>("target")
        .method<&PSSpecifier::buttonAction>("buttonAction")
        .registerClass();
    CxxClass<PSListController>::define("PSListController", object)
        .method<&PSListController::specifiers>("specifiers")
        .method<&PSListController::loadSpecifiersFromPlistName>("loadSpecifiersFromPlistName:target:")
        .method<&PSListController::reloadSpecifiers>("reloadSpecifiers")
        .method<&PSListController::reloadSpecifierID>("reloadSpecifierID:")
        .method<&PSListController::specifierForID>("specifierForID:")
        .method<&PSListController::readPreferenceValue>("readPreferenceValue:")
        .method<&PSListController::setPreferenceValue>("setPreferenceValue:specifier:")
        .ivar<id>("_specifiers")
        .registerClass();
    CxxClass<PSTableCell>::define("PSTableCell", UIKit::UIView::runtimeClass())
        .method<&PSTableCell::initWithStyleReuseIdentifier>("initWithStyle:reuseIdentifier:")
        .method<&PSTableCell::reuseIdentifier>("reuseIdentifier")
        .registerClass();
}

namespace {

__attribute__((constructor)) void registerWhenLoaded() { registerPreferencesClasses(); }

} // namespace

} // namespace Preferences
