// UIImageView: a view that shows an image, fitted to its bounds by its content mode.
#pragma once

#include "platform/uikit/UIImage.h"
#include "platform/uikit/UIView.h"

namespace UIKit {

class UIImageView : public UIView {
public:
    static Runtime::Class* runtimeClass();

    // Sends initWithFrame: with the image's size at the origin, then setImage:.
    Runtime::RefPtr<Runtime::Object> initWithImage(UIImage*);
    Runtime::RefPtr<UIImage> image() const;
    void setImage(UIImage*);

    // Where the image lands in the bounds for a content mode (UIViewContentMode).
    static CGRect imageRect(CGSize imageSize, CGRect bounds, int64_t contentMode);

    void drawContent(cairo_t*, CGRect bounds) const override;

private:
    Runtime::RefPtr<UIImage> m_image;
};

} // namespace UIKit
