#include "platform/uikit/UILabel.h"

#include "platform/uikit/TextLayout.h"
#include "platform/uikit/UIColor.h"
#include "platform/uikit/UIFont.h"

namespace UIKit {

namespace {

const Runtime::ClassReference s_labelClass("UILabel");

} // namespace

Runtime::Class* UILabel::runtimeClass() { return s_labelClass.get(); }

Runtime::RefPtr<UIFont> UILabel::font() const
{
    if (m_font)
        return m_font;
    return UIFont::systemFontOfSize(defaultFontSize);
}

Runtime::RefPtr<UIColor> UILabel::textColor() const
{
    if (m_textColor)
        return m_textColor;
    return UIColor::blackColor();
}

CGSize UILabel::sizeThatFits(CGSize size) const
{
    if (!m_text || m_text->string().empty())
        return {};
    CGFloat width = m_numberOfLines == 1 ? 0 : size.width;
    return TextLayout(m_text->string(), *font(), width, m_numberOfLines).size();
}

void UILabel::drawContent(cairo_t* context, CGRect bounds) const
{
    if (!m_text || m_text->string().empty() || !(bounds.size.width > 0) || !(bounds.size.height > 0))
        return;
    TextLayout layout(m_text->string(), *font(), bounds.size.width, m_numberOfLines, m_textAlignment);
    cairo_save(context);
    cairo_rectangle(context, 0, 0, bounds.size.width, bounds.size.height);
    cairo_clip(context);
    textColor()->applyTo(context);
    layout.draw(context, { 0, (bounds.size.height - layout.size().height) / 2 });
    cairo_restore(context);
}

} // namespace UIKit
