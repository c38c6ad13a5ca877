#include "prefs/KSTFooterCell.h"

#include "platform/foundation/CoreGraphics.h"
#include "runtime/ClassDefinition.h"

using ObjC::send;
using ObjC::sel;

namespace {

ObjC::ClassReference const s_footerClass("KSTFooterCell");

// One line of notice, a blank, then the version.
constexpr const char* footerNotice = "Kestrel by PloverDev, version ";
// What stands in for a version the package database does not record.
constexpr const char* unknownVersion = "unknown";
constexpr double labelHeight = 15.0;

Ivar labelIvar()
{
    static Ivar const ivar = ObjC::instanceVariable(s_footerClass.get(), "mainTitleLabel");
    return ivar;
}

id initWithSpecifier(id self, SEL, id)
{
    static SEL const initWithStyle = sel("initWithStyle:reuseIdentifier:");
    static SEL const packageWithIdentifier = sel("packageWithIdentifier:");
    static SEL const versionSelector = sel("version");
    static SEL const mainScreen = sel("mainScreen");
    static SEL const bounds = sel("bounds");
    static SEL const alloc = sel("alloc");
    static SEL const initWithFrame = sel("initWithFrame:");
    id cell = ObjC::sendSuper<id>(self, s_footerClass.get(), initWithStyle, static_cast<long>(0), ObjC::string("Cell"));
    id* slot = ObjC::ivarAddress<id>(cell, labelIvar());
    if (!slot)
        return cell;

    id package = send<id>(ObjC::getClass("PloverPackage"), packageWithIdentifier, ObjC::string("com.plover.kestrel"));
    id text = footerText(send<id>(package, versionSelector));

    double width = send<CGRect>(send<id>(ObjC::getClass("UIScreen"), mainScreen), bounds).size.width;
    ObjC::RetainPtr label
        = ObjC::adopt(send<id>(send<id>(ObjC::getClass("UILabel"), alloc), initWithFrame, CGRectMake(0, 0, width, labelHeight)));
    ObjC::release(*slot);
    *slot = ObjC::RetainPtr(label).leak();
    send(label, sel("setNumberOfLines:"), static_cast<long>(1));
    send(label, sel("setFont:"), send<id>(ObjC::getClass("UIFont"), sel("systemFontOfSize:"), 12.0));
    send(label, sel("setText:"), text);
    send(label, sel("setBackgroundColor:"), send<id>(ObjC::getClass("UIColor"), sel("clearColor")));
    send(label, sel("setTextColor:"), send<id>(ObjC::getClass("UIColor"), sel("grayColor")));
    send(label, sel("setTextAlignment:"), static_cast<long>(1));
    send(cell, sel("addSubview:"), label);
    return cell;
}

double preferredHeightForWidth(id, SEL, double) { return labelHeight; }

id mainTitleLabel(id self, SEL) { return ObjC::objectIvar(self, labelIvar()); }

void dealloc(id self, SEL selector)
{
    if (id* slot = ObjC::ivarAddress<id>(self, labelIvar())) {
        ObjC::release(*slot);
        *slot = nullptr;
    }
    ObjC::sendSuper(self, s_footerClass.get(), selector);
}

__attribute__((constructor)) void registerFooterCell()
{
    ObjC::ClassDefinition definition("KSTFooterCell", ObjC::getClass("PSTableCell"));
    definition.ivar<id>("mainTitleLabel")
        .method("initWithSpecifier:", &initWithSpecifier)
        .method("preferredHeightForWidth:", &preferredHeightForWidth)
        .method("mainTitleLabel", &mainTitleLabel)
        .method("dealloc", &dealloc);
    definition.registerClass();
}

} // namespace

id footerText(id version)
{
    static SEL const isKindOfClass = sel("isKindOfClass:");
    static SEL const stringByAppendingString = sel("stringByAppendingString:");
    bool recorded = send<bool>(version, isKindOfClass, ObjC::getClass("NSString"));
    return send<id>(ObjC::string(footerNotice), stringByAppendingString, recorded ? version : ObjC::string(unknownVersion));
}
