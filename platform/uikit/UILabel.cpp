#include "platform/uikit/UILabel.h"

#include "platform/foundation/FoundationValue.h"
#include "platform/uikit/TextLayout.h"
#include "platform/uikit/UIColor.h"
#include "platform/uikit/UIFont.h"
#include "platform/uikit/UIGraphics.h"
#include "platform/uikit/UIKitObjects.h"

namespace UIKit {

Class UILabel::runtimeClass() { return ObjC::CxxClass<UILabel>::runtimeClass(); }

UILabel* UILabel::from(id object) { return stateIfKindOf<UILabel>(object); }

void UILabel::setText(id text)
{
    static SEL const copy = ObjC::sel("copy");
    // A label keeps its own copy, as UILabel's text property does.
    m_text = ObjC::adopt(ObjC::send<id>(text, copy));
    m_textString = Platform::stringValue(m_text.get()).value_or("");
}

id UILabel::font() const
{
    if (UIFont::from(m_font))
        return m_font.get();
    return UIFont::systemFontOfSize(defaultFontSize);
}

id UILabel::textColor() const
{
    if (UIColor::from(m_textColor))
        return m_textColor.get();
    return UIColor::blackColor();
}

CGSize UILabel::sizeThatFits(CGSize size) const
{
    if (m_textString.empty())
        return {};
    CGFloat width = m_numberOfLines == 1 ? 0 : size.width;
    return TextLayout(m_textString, *UIFont::from(font()), width, m_numberOfLines).size();
}

void UILabel::drawRect(CGRect bounds) const
{
    cairo_t* context = UIGraphicsGetCurrentContext();
    if (!context || m_textString.empty() || !(bounds.size.width > 0) || !(bounds.size.height > 0))
        return;
    TextLayout layout(m_textString, *UIFont::from(font()), bounds.size.width, m_numberOfLines, m_textAlignment);
    cairo_save(context);
    cairo_rectangle(context, 0, 0, bounds.size.width, bounds.size.height);
    cairo_clip(context);
    UIColor::from(textColor())->applyTo(context);
    layout.draw(context, { 0, (bounds.size.height - layout.size().height) / 2 });
    cairo_restore(context);
}

} // namespace UIKit
