// UIImageView: a view that shows an image, fitted to its bounds by its content mode.
#pragma once

#include "platform/uikit/UIView.h"

namespace UIKit {

// The C++ side of a UIImageView instance (its view state is UIView's).
class UIImageView {
public:
    static Class runtimeClass();
    static UIImageView* from(id);

    // Sends initWithFrame: with the image's size at the origin, then setImage:.
    id initWithImage(id image);
    id image() const { return m_image.get(); }
    void setImage(id image) { m_image = image; }

    // Where the image lands in the bounds for a content mode (UIViewContentMode).
    static CGRect imageRect(CGSize imageSize, CGRect bounds, int64_t contentMode);

    void drawRect(CGRect bounds) const;

private:
    ObjC::RetainPtr m_image;
};

} // namespace UIKit
