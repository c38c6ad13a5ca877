#include "platform/preferences/PSTableCell.h"

#include "platform/preferences/PSListController.h"
#include "platform/uikit/UIKit.h"

using namespace Runtime;

namespace Preferences {

namespace {

const ClassReference s_class("PSTableCell");

void registerClasses()
{
    UIKit::registerUIKitClasses();
    if (getClass("PSTableCell"))
        return;
    ClassBuilder<PSSpecifier>("PSSpecifier", "NSObject")
        .method<&PSSpecifier::properties>("properties")
        .method<&PSSpecifier::propertyForKey>("propertyForKey:")
        .method<&PSSpecifier::identifier>("identifier")
        .method<&PSSpecifier::cellType>("cellType")
        .method<&PSSpecifier::name>("name")
        .method<&PSSpecifier::target>("target")
        .method<&PSSpecifier::buttonAction>("buttonAction");
    ClassBuilder<PSListController>("PSListController", "NSObject")
        .method<&PSListController::specifiers>("specifiers")
        .method<&PSListController::loadSpecifiersFromPlistName>("loadSpecifiersFromPlistName:target:")
        .method<&PSListController::reloadSpecifiers>("reloadSpecifiers")
        .method<&PSListController::reloadSpecifierID>("reloadSpecifierID:")
        .method<&PSListController::specifierForID>("specifierForID:")
        .method<&PSListController::readPreferenceValue>("readPreferenceValue:")
        .method<&PSListController::setPreferenceValue>("setPreferenceValue:specifier:")
        .ivar<&PSListController::m_specifiers>("_specifiers");
    ClassBuilder<PSTableCell>("PSTableCell", "UIView")
        .method<&PSTableCell::initWithStyleReuseIdentifier>("initWithStyle:reuseIdentifier:")
        .method<&PSTableCell::reuseIdentifier>("reuseIdentifier");
}

const bool s_registered = (addClassRegistrar(&registerClasses), true);

} // namespace

void registerPreferencesClasses() { registerClasses(); }

Class* PSTableCell::runtimeClass() { return s_class.get(); }

RefPtr<Object> PSTableCell::initWithStyleReuseIdentifier(int64_t style, Object* reuseIdentifier)
{
    auto cell = send<RefPtr<Object>>(this, "initWithFrame:", CGRectMake(0, 0, 320, 44));
    if (auto* self = dynamic_cast<PSTableCell*>(cell.get())) {
        self->m_style = style;
        self->m_reuseIdentifier = reuseIdentifier;
    }
    return cell;
}

bool conformsToPreferencesTableCustomView(Class* cls)
{
    if (!cls || !cls->isSubclassOf(PSTableCell::runtimeClass()))
        return false;
    return cls->lookup(sel("initWithSpecifier:")) && cls->lookup(sel("preferredHeightForWidth:"));
}

} // namespace Preferences
