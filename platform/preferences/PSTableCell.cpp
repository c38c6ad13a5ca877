#include "platform/preferences/PSTableCell.h"

#include "platform/preferences/PSListController.h"
#include "platform/uikit/UIKitObjects.h"

namespace Preferences {

Class PSTableCell::runtimeClass() { return ObjC::CxxClass<PSTableCell>::runtimeClass(); }

PSTableCell* PSTableCell::from(id object) { return UIKit::stateIfKindOf<PSTableCell>(object); }

id PSTableCell::initWithStyleReuseIdentifier(int64_t style, id reuseIdentifier)
{
    static SEL const initWithFrame = ObjC::sel("initWithFrame:");
    id cell = ObjC::send<id>(ObjC::selfOf(this), initWithFrame, CGRectMake(0, 0, 320, 44));
    if (PSTableCell* state = from(cell)) {
        state->m_style = style;
        state->m_reuseIdentifier = reuseIdentifier;
    }
    return cell;
}

bool conformsToPreferencesTableCustomView(Class cls)
{
    static SEL const initWithSpecifier = ObjC::sel("initWithSpecifier:");
    static SEL const preferredHeightForWidth = ObjC::sel("preferredHeightForWidth:");
    return isSubclassOf(cls, PSTableCell::runtimeClass()) && class_respondsToSelector(cls, initWithSpecifier)
        && class_respondsToSelector(cls, preferredHeightForWidth);
}

} // namespace Preferences
