// UILabel: a view that shows text in one font and colour, measured and drawn with pango.
#pragma once

#include "platform/uikit/UIFont.h"
#include "platform/uikit/UIView.h"

namespace UIKit {

// NSTextAlignment.
enum : int64_t {
    NSTextAlignmentLeft = 0,
    NSTextAlignmentCenter = 1,
    NSTextAlignmentRight = 2,
};

class UILabel : public UIView {
public:
    static Runtime::Class* runtimeClass();
    static constexpr CGFloat defaultFontSize = 17;

    Runtime::RefPtr<Runtime::NSString> text() const { return m_text; }
    void setText(Runtime::NSString* text) { m_text = text; }
    // The system font at 17 points until one is set; setting nil goes back to it.
    Runtime::RefPtr<UIFont> font() const;
    void setFont(UIFont* font) { m_font = font; }
    // Black until set; setting nil goes back to black.
    Runtime::RefPtr<UIColor> textColor() const;
    void setTextColor(UIColor* color) { m_textColor = color; }
    int64_t textAlignment() const { return m_textAlignment; }
    void setTextAlignment(int64_t alignment) { m_textAlignment = alignment; }
    // 0 means as many lines as the text needs.
    int64_t numberOfLines() const { return m_numberOfLines; }
    void setNumberOfLines(int64_t count) { m_numberOfLines = count; }

    // The size of the text in the label's font, rounded up to whole points: on one line when
    // numberOfLines is 1, otherwise wrapped to the given width (if it is positive) and cut
    // to numberOfLines. Zero for no text.
    CGSize sizeThatFits(CGSize) const;

    // The text, vertically centred and aligned in the bounds, clipped to them; a single line
    // that does not fit ends in an ellipsis.
    void drawContent(cairo_t*, CGRect bounds) const override;

private:
    Runtime::RefPtr<Runtime::NSString> m_text;
    Runtime::RefPtr<UIFont> m_font;
    Runtime::RefPtr<UIColor> m_textColor;
    int64_t m_textAlignment { NSTextAlignmentLeft };
    int64_t m_numberOfLines { 1 };
};

} // namespace UIKit
