#include "prefs/KSTFooterCell.h"

#include "platform/preferences/PSListController.h"
#include "platform/uikit/UIKit.h"

using namespace Runtime;

namespace {

const ClassReference s_class("KSTFooterCell");

// One line of notice, a blank, then the version.
constexpr const char* footerNotice = "Kestrel by PloverDev, version";
// What stands in for a version the package database does not record.
constexpr const char* unknownVersion = "unknown";

void registerFooterCell()
{
    Preferences::registerPreferencesClasses();
    if (getClass("KSTFooterCell"))
        return;
    ClassBuilder<KSTFooterCell>("KSTFooterCell", "PSTableCell")
        .method<&KSTFooterCell::initWithSpecifier>("initWithSpecifier:")
        .method<&KSTFooterCell::preferredHeightForWidth>("preferredHeightForWidth:")
        .method<&KSTFooterCell::mainTitleLabel>("mainTitleLabel")
        .ivar<&KSTFooterCell::m_mainTitleLabel>("mainTitleLabel");
}

const bool s_registered = (addClassRegistrar(&registerFooterCell), true);

} // namespace

std::string footerText(const std::optional<std::string>& version)
{
    return std::string(footerNotice) + " " + version.value_or(unknownVersion);
}

RefPtr<Object> KSTFooterCell::initWithSpecifier(Object*)
{
    auto cell = sendSuper<RefPtr<Object>>(this, s_class.get(), "initWithStyle:reuseIdentifier:", int64_t(0), NSString::create("Cell"));
    auto* self = dynamic_cast<KSTFooterCell*>(cell.get());
    if (!self)
        return nullptr;

    std::optional<std::string> version;
    {
        auto package = send<RefPtr<Object>>(getClass("PloverPackage"), "packageWithIdentifier:", NSString::create("com.plover.kestrel"));
        version = stringValue(send<RefPtr<Object>>(package, "version").get());
    }

    auto screen = send<RefPtr<Object>>(getClass("UIScreen"), "mainScreen");
    double width = send<CGRect>(screen, "bounds").size.width;
    auto label = send<RefPtr<Object>>(send<RefPtr<Object>>(getClass("UILabel"), "alloc"), "initWithFrame:", CGRectMake(0, 0, width, 15.0));
    self->m_mainTitleLabel = label;
    send(label, "setNumberOfLines:", int64_t(1));
    send(label, "setFont:", send<RefPtr<Object>>(getClass("UIFont"), "systemFontOfSize:", 12.0).get());
    send(label, "setText:", NSString::create(footerText(version)).ptr());
    send(label, "setBackgroundColor:", send<RefPtr<Object>>(getClass("UIColor"), "clearColor").get());
    send(label, "setTextColor:", send<RefPtr<Object>>(getClass("UIColor"), "grayColor").get());
    send(label, "setTextAlignment:", int64_t(1));
    send(self, "addSubview:", label.get());
    return cell;
}

double KSTFooterCell::preferredHeightForWidth(double) const { return 15.0; }
