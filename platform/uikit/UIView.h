// UIView: a rectangle in a tree of views. Everything a subclass may override (frame,
// setFrame:, didMoveToSuperview, layoutSubviews, drawRect:...) is reached through message
// dispatch, never by a direct C++ call, so runtime subclasses and hooks see every call.
#pragma once

#include "platform/uikit/Geometry.h"
#include "runtime/CxxClass.h"

#include <cstdint>
#include <vector>

namespace UIKit {

// UIViewAutoresizing.
enum : uint64_t {
    UIViewAutoresizingNone = 0,
    UIViewAutoresizingFlexibleLeftMargin = 1 << 0,
    UIViewAutoresizingFlexibleWidth = 1 << 1,
    UIViewAutoresizingFlexibleRightMargin = 1 << 2,
    UIViewAutoresizingFlexibleTopMargin = 1 << 3,
    UIViewAutoresizingFlexibleHeight = 1 << 4,
    UIViewAutoresizingFlexibleBottomMargin = 1 << 5,
};

// UIViewContentMode: how an image view fits its image to its bounds.
enum : int64_t {
    UIViewContentModeScaleToFill = 0,
    UIViewContentModeScaleAspectFit = 1,
    UIViewContentModeScaleAspectFill = 2,
    UIViewContentModeRedraw = 3,
    UIViewContentModeCenter = 4,
    UIViewContentModeTop = 5,
    UIViewContentModeBottom = 6,
    UIViewContentModeLeft = 7,
    UIViewContentModeRight = 8,
    UIViewContentModeTopLeft = 9,
    UIViewContentModeTopRight = 10,
    UIViewContentModeBottomLeft = 11,
    UIViewContentModeBottomRight = 12,
};

// The C++ side of a UIView instance (and of every subclass's: their own state lives beside it).
class UIView {
public:
    static Class runtimeClass();
    // The view state of a view (of any subclass), or null for nil and other objects.
    static UIView* from(id);
    id self() const { return ObjC::selfOf(this); }

    // Sends setFrame: with the frame; answers the receiver.
    id initWithFrame(CGRect);
    // Sends initWithFrame: with a zero frame.
    id init();

    CGRect frame() const { return m_frame; }
    // Stores the frame; when the size changes, marks the view for layout and resizes the
    // subviews that autoresize (through their frame and setFrame:).
    void setFrame(CGRect);
    // (0, 0, the stored frame's size), whatever a subclass's frame answers.
    CGRect bounds() const { return { {}, m_frame.size }; }

    // The superview is held weakly: it owns its subviews, not the other way round.
    ObjC::RetainPtr superview() const { return m_superview.get(); }
    // A new array of the subviews, back to front (autoreleased).
    id subviews() const;
    // Takes the view from any superview it has, appends it (so re-adding brings it to the
    // front), then sends it didMoveToSuperview. Adding a view to itself or to one of its own
    // subviews raises NSInvalidArgumentException; nil does nothing.
    void addSubview(id view);
    // Then sends didMoveToSuperview, with the superview already nil.
    void removeFromSuperview();
    void willMoveToSuperview(id) { }
    void didMoveToSuperview() { }
    void didAddSubview(id) { }
    void willRemoveSubview(id) { }

    void layoutSubviews() { }
    void setNeedsLayout() { m_needsLayout = true; }
    // Sends layoutSubviews if the view needs layout, then layoutIfNeeded to each subview.
    void layoutIfNeeded();

    // The base answers the current size; sizeToFit sends sizeThatFits: with the bounds' size
    // and sets the frame's size to the answer through frame and setFrame:, keeping the origin.
    CGSize sizeThatFits(CGSize) const { return m_frame.size; }
    void sizeToFit();

    uint64_t autoresizingMask() const { return m_autoresizingMask; }
    void setAutoresizingMask(uint64_t mask) { m_autoresizingMask = mask; }
    id backgroundColor() const { return m_backgroundColor.get(); }
    void setBackgroundColor(id color) { m_backgroundColor = color; }
    bool isHidden() const { return m_hidden; }
    void setHidden(bool hidden) { m_hidden = hidden; }
    int64_t contentMode() const { return m_contentMode; }
    void setContentMode(int64_t mode) { m_contentMode = mode; }
    // Cells put their content here; a plain view is its own content view.
    id contentView() const { return self(); }

    // Draws what the view itself shows over its background into the current image context, in
    // the view's own coordinates (the bounds start at 0, 0). Subclasses that draw themselves
    // override it; the base draws nothing.
    void drawRect(CGRect) const { }

    // C++ access for drawing.
    const std::vector<ObjC::RetainPtr>& subviewList() const { return m_subviews; }

private:
    void detachSubview(id view);
    void resizeSubviews(CGSize oldSize);

    CGRect m_frame;
    ObjC::WeakPtr m_superview;
    std::vector<ObjC::RetainPtr> m_subviews;
    ObjC::RetainPtr m_backgroundColor;
    uint64_t m_autoresizingMask { UIViewAutoresizingNone };
    int64_t m_contentMode { UIViewContentModeScaleToFill };
    bool m_hidden { false };
    bool m_needsLayout { true };
};

} // namespace UIKit
