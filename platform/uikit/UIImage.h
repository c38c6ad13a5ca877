// UIImage: a bitmap with a scale (pixels per point), read from a PNG file on the device or
// made by an image context.
#pragma once

#include "platform/uikit/Geometry.h"
#include "runtime/ObjC.h"

#include <cairo.h>
#include <cstdint>
#include <string>

namespace UIKit {

// The C++ side of a UIImage instance.
class UIImage {
public:
    static Class runtimeClass();
    static UIImage* from(id);
    // Files declaring a wider or taller bitmap are refused before anything is decoded.
    static constexpr int maximumPixelSide = 8192;

    // An image taking over the caller's reference to an image surface; autoreleased.
    static id create(cairo_surface_t* adoptedSurface, CGSize sizeInPoints, CGFloat scale);
    UIImage() = default;
    ~UIImage();
    UIImage(const UIImage&) = delete;
    UIImage& operator=(const UIImage&) = delete;

    // The PNG file at a device path, or nil (the receiver released) when it is missing, not a
    // regular file, unreadable, not a PNG, or declares more than maximumPixelSide pixels a
    // side. Scale 1.
    id initWithContentsOfFile(id devicePath);
    static id imageWithContentsOfFile(id devicePath);

    CGSize size() const { return m_size; }
    double scale() const { return m_scale; }
    // Draws into the current image context, stretched to the rectangle.
    void drawInRect(CGRect) const;

    struct RGBA {
        uint8_t red { 0 };
        uint8_t green { 0 };
        uint8_t blue { 0 };
        uint8_t alpha { 0 };
        friend bool operator==(const RGBA&, const RGBA&) = default;
    };

    cairo_surface_t* surface() const { return m_surface; }
    int pixelWidth() const;
    int pixelHeight() const;
    // Straight (not premultiplied) components; all zero outside the bitmap.
    RGBA pixelAt(int x, int y) const;
    // Writes the bitmap as a PNG file at a host path; false on failure.
    bool writePNG(const std::string& hostPath) const;
    // Draws the bitmap stretched to the rectangle of a cairo context's user space.
    void drawInContext(cairo_t*, CGRect) const;

private:
    cairo_surface_t* m_surface { nullptr };
    CGSize m_size;
    CGFloat m_scale { 1 };
};

} // namespace UIKit
