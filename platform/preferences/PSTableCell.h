// PSTableCell: a row's cell. Custom header and footer views of a page are
// PSTableCell subclasses that also answer the PreferencesTableCustomView
// messages `initWithSpecifier:` and `preferredHeightForWidth:`.
#pragma once

#include "platform/uikit/UIView.h"

namespace Preferences {

class PSTableCell : public UIKit::UIView {
public:
    static Runtime::Class* runtimeClass();

    // A cell starts 320 by 44 points, as a table cell does before the table sizes it.
    Runtime::RefPtr<Runtime::Object> initWithStyleReuseIdentifier(int64_t style, Runtime::Object* reuseIdentifier);
    Runtime::RefPtr<Runtime::Object> reuseIdentifier() const { return m_reuseIdentifier; }
    int64_t style() const { return m_style; }

private:
    int64_t m_style { 0 };
    Runtime::RefPtr<Runtime::Object> m_reuseIdentifier;
};

// Whether a class can serve as a page's custom header or footer view.
bool conformsToPreferencesTableCustomView(Runtime::Class*);

} // namespace Preferences
