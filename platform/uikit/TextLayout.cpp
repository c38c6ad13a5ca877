#include "platform/uikit/TextLayout.h"

#include "platform/uikit/UIFont.h"

#include <cmath>
#include <algorithm>
#include <string>

namespace UIKit {

namespace {

// Pango wants valid UTF-8; text can come from files, so bad bytes become U+FFFD.
std::string validUTF8(std::string_view text)
{
    gchar* valid = g_utf8_make_valid(text.data(), gssize(text.size()));
    std::string result(valid);
    g_free(valid);
    return result;
}

CGFloat fromPango(int value) { return CGFloat(value) / PANGO_SCALE; }

} // namespace

TextLayout::TextLayout(
    std::string_view text, const UIFont& font, CGFloat width, int64_t numberOfLines, int64_t alignment)
{
    // Unhinted metrics and unrounded glyph positions make the layout independent of the
    // scale it is later drawn at.
    m_context = pango_font_map_create_context(pango_cairo_font_map_get_default());
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    pango_cairo_context_set_font_options(m_context, options);
    cairo_font_options_destroy(options);
    pango_context_set_round_glyph_positions(m_context, false);

    m_layout = pango_layout_new(m_context);
    PangoFontDescription* description = pango_font_description_new();
    pango_font_description_set_family(description, font.family().c_str());
    pango_font_description_set_weight(description, font.isBold() ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_absolute_size(description, font.pointSize() * PANGO_SCALE);
    pango_layout_set_font_description(m_layout, description);
    pango_font_description_free(description);

    if (font.pointSize() <= 0 || text.empty())
        return;
    std::string valid = validUTF8(text);
    pango_layout_set_text(m_layout, valid.data(), int(std::min<size_t>(valid.size(), INT32_MAX)));

    bool bounded = width > 0 && width * PANGO_SCALE < INT32_MAX;
    if (bounded) {
        pango_layout_set_width(m_layout, int(width * PANGO_SCALE));
        if (numberOfLines == 1)
            pango_layout_set_ellipsize(m_layout, PANGO_ELLIPSIZE_END);
        else
            pango_layout_set_wrap(m_layout, PANGO_WRAP_WORD_CHAR);
    }
    switch (alignment) {
    case 1:
        pango_layout_set_alignment(m_layout, PANGO_ALIGN_CENTER);
        break;
    case 2:
        pango_layout_set_alignment(m_layout, PANGO_ALIGN_RIGHT);
        break;
    default:
        pango_layout_set_alignment(m_layout, PANGO_ALIGN_LEFT);
        break;
    }

    // The lines shown are the first numberOfLines of the layout (all of them for 0).
    int shown = 0;
    int widest = 0;
    int bottom = 0;
    PangoLayoutIter* iterator = pango_layout_get_iter(m_layout);
    do {
        if (numberOfLines > 0 && shown >= numberOfLines) {
            m_hidesLines = true;
            break;
        }
        PangoRectangle logical;
        pango_layout_iter_get_line_extents(iterator, nullptr, &logical);
        widest = std::max(widest, logical.width);
        bottom = logical.y + logical.height;
        ++shown;
    } while (pango_layout_iter_next_line(iterator));
    pango_layout_iter_free(iterator);

    m_exactHeight = fromPango(bottom);
    m_size = { std::ceil(fromPango(widest)), std::ceil(m_exactHeight) };
}

TextLayout::~TextLayout()
{
    if (m_layout)
        g_object_unref(m_layout);
    if (m_context)
        g_object_unref(m_context);
}

void TextLayout::draw(cairo_t* context, CGPoint origin) const
{
    if (m_exactHeight <= 0)
        return;
    cairo_save(context);
    if (m_hidesLines) {
        // Lines past numberOfLines are laid out but not shown.
        double left, top, right, bottom;
        cairo_clip_extents(context, &left, &top, &right, &bottom);
        cairo_rectangle(context, left, origin.y, right - left, m_exactHeight);
        cairo_clip(context);
    }
    cairo_move_to(context, origin.x, origin.y);
    pango_cairo_show_layout(context, m_layout);
    cairo_restore(context);
}

} // namespace UIKit
