// Text laid out by pango in points, one way for measuring and drawing alike, so that what
// a label measures is exactly what it draws at any scale. Internal to UIKit.
#pragma once

#include "platform/uikit/Geometry.h"

#include <cairo.h>
#include <cstdint>
#include <pango/pangocairo.h>
#include <string_view>

namespace UIKit {

class UIFont;

class TextLayout {
public:
    // A width of zero or less means unbounded. numberOfLines 0 shows every line; 1 keeps
    // each paragraph to one line, cut with an ellipsis when a width is given. Alignment:
    // 0 left, 1 centre, 2 right (anything else is left).
    TextLayout(std::string_view text, const UIFont&, CGFloat width, int64_t numberOfLines, int64_t alignment = 0);
    ~TextLayout();
    TextLayout(const TextLayout&) = delete;
    TextLayout& operator=(const TextLayout&) = delete;

    // The size of the lines shown (at most numberOfLines of them), rounded up to whole points.
    CGSize size() const { return m_size; }

    // Draws the lines shown with their top-left corner at origin, in cairo's current source.
    void draw(cairo_t*, CGPoint origin) const;

private:
    PangoContext* m_context { nullptr };
    PangoLayout* m_layout { nullptr };
    CGSize m_size;
    CGFloat m_exactHeight { 0 };
    bool m_hidesLines { false };
};

} // namespace UIKit
