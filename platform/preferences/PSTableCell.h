// PSTableCell: a row's cell, a UIView. Custom header and footer views of a page are PSTableCell
// subclasses that also answer the PreferencesTableCustomView messages `initWithSpecifier:` and
// `preferredHeightForWidth:`; callers ask with respondsToSelector:, as for any informal protocol.
#pragma once

#include "platform/uikit/UIView.h"

namespace Preferences {

// The C++ side of a PSTableCell instance (its view state is UIView's).
class PSTableCell {
public:
    static Class runtimeClass();
    static PSTableCell* from(id);

    // A cell starts 320 by 44 points, as a table cell does before the table sizes it.
    id initWithStyleReuseIdentifier(int64_t style, id reuseIdentifier);
    id reuseIdentifier() const { return m_reuseIdentifier.get(); }
    int64_t style() const { return m_style; }

private:
    int64_t m_style { 0 };
    ObjC::RetainPtr m_reuseIdentifier;
};

// Whether a class can serve as a page's custom header or footer view.
bool conformsToPreferencesTableCustomView(Class);

} // namespace Preferences
