// UILabel: a view that shows text in one font and colour, measured and drawn with pango.
#pragma once

#include "platform/uikit/UIView.h"

#include <string>

namespace UIKit {

// NSTextAlignment.
enum : int64_t {
    NSTextAlignmentLeft = 0,
    NSTextAlignmentCenter = 1,
    NSTextAlignmentRight = 2,
};

// The C++ side of a UILabel instance (its view state is UIView's).
class UILabel {
public:
    static Class runtimeClass();
    static UILabel* from(id);
    static constexpr CGFloat defaultFontSize = 17;

    id text() const { return m_text.get(); }
    void setText(id text);
    // The system font at 17 points until one is set; setting nil goes back to it.
    id font() const;
    void setFont(id font) { m_font = font; }
    // Black until set; setting nil goes back to black.
    id textColor() const;
    void setTextColor(id color) { m_textColor = color; }
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
    void drawRect(CGRect bounds) const;

    // The text as UTF-8; empty for none.
    const std::string& textString() const { return m_textString; }

private:
    ObjC::RetainPtr m_text;
    std::string m_textString;
    ObjC::RetainPtr m_font;
    ObjC::RetainPtr m_textColor;
    int64_t m_textAlignment { NSTextAlignmentLeft };
    int64_t m_numberOfLines { 1 };
};

} // namespace UIKit
