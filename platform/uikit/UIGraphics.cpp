#include "platform/uikit/UIGraphics.h"

#include "platform/uikit/UIImage.h"
#include "platform/uikit/UIScreen.h"

#include <cairo.h>
#include <cmath>
#include <memory>
#include <vector>

namespace {

struct ImageContext {
    CGSize size;
    CGFloat scale { 1 };
    cairo_surface_t* surface { nullptr };
    cairo_t* context { nullptr };

    ImageContext() = default;
    ImageContext(const ImageContext&) = delete;
    ImageContext& operator=(const ImageContext&) = delete;
    ~ImageContext()
    {
        if (context)
            cairo_destroy(context);
        if (surface)
            cairo_surface_destroy(surface);
    }
};

thread_local std::vector<std::unique_ptr<ImageContext>> t_imageContexts;

ImageContext* currentImageContext() { return t_imageContexts.empty() ? nullptr : t_imageContexts.back().get(); }

// ceil, forgiving the last bits of floating-point noise (120.3 × 3 must not become 362).
double pixelCount(CGFloat points, CGFloat scale) { return std::ceil(points * scale - 1e-9); }

} // namespace

extern "C" {

void UIGraphicsBeginImageContextWithOptions(CGSize size, BOOL opaque, CGFloat scale)
{
    if (!(scale > 0) || !std::isfinite(scale))
        scale = UIKit::UIScreen::mainScreenScale();
    auto entry = std::make_unique<ImageContext>();
    double width = pixelCount(size.width, scale);
    double height = pixelCount(size.height, scale);
    constexpr double maximumSide = UIKit::UIImage::maximumPixelSide;
    bool valid
        = width >= 0 && height >= 0 && width * height <= maximumSide * maximumSide && width <= 32767 && height <= 32767;
    if (valid) {
        entry->size = size;
        entry->scale = scale;
        entry->surface
            = cairo_image_surface_create(opaque ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32, int(width), int(height));
        entry->context = cairo_create(entry->surface);
        cairo_scale(entry->context, scale, scale);
    }
    t_imageContexts.push_back(std::move(entry));
}

void UIGraphicsBeginImageContext(CGSize size) { UIGraphicsBeginImageContextWithOptions(size, false, 1); }

id UIGraphicsGetImageFromCurrentImageContext(void)
{
    ImageContext* current = currentImageContext();
    if (!current || !current->surface)
        return nullptr;
    cairo_surface_flush(current->surface);
    int width = cairo_image_surface_get_width(current->surface);
    int height = cairo_image_surface_get_height(current->surface);
    if (!width || !height)
        return nullptr;
    cairo_surface_t* copy = cairo_image_surface_create(cairo_image_surface_get_format(current->surface), width, height);
    cairo_t* copier = cairo_create(copy);
    cairo_set_operator(copier, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(copier, current->surface, 0, 0);
    cairo_paint(copier);
    cairo_destroy(copier);
    return UIKit::UIImage::create(copy, current->size, current->scale);
}

void UIGraphicsEndImageContext(void)
{
    if (!t_imageContexts.empty())
        t_imageContexts.pop_back();
}

CGContextRef UIGraphicsGetCurrentContext(void)
{
    ImageContext* current = currentImageContext();
    return current ? current->context : nullptr;
}

void UIRectFill(CGRect rect)
{
    cairo_t* context = UIGraphicsGetCurrentContext();
    if (!context)
        return;
    cairo_save(context);
    cairo_set_operator(context, CAIRO_OPERATOR_SOURCE);
    cairo_rectangle(context, rect.origin.x, rect.origin.y, rect.size.width, rect.size.height);
    cairo_fill(context);
    cairo_restore(context);
}
}
