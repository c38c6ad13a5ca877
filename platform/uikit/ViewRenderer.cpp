#include "platform/uikit/ViewRenderer.h"

#include "platform/uikit/UIColor.h"
#include "platform/uikit/UIGraphics.h"
#include "platform/uikit/UIImage.h"
#include "platform/uikit/UIView.h"

namespace UIKit {

namespace {

// Pops the image context however drawing ends (a subclass's drawing may raise).
struct ImageContextScope {
    ImageContextScope(CGSize size, CGFloat scale) { UIGraphicsBeginImageContextWithOptions(size, false, scale); }
    ~ImageContextScope() { UIGraphicsEndImageContext(); }
};

// Geometry is read from each view's stored frame, as the screen composites layers, not by
// asking -frame.
void drawTree(const UIView& view, cairo_t* context)
{
    if (view.isHidden())
        return;
    CGRect bounds = view.bounds();
    if (auto color = view.backgroundColor(); color && color->alpha() > 0) {
        cairo_save(context);
        color->applyTo(context);
        cairo_rectangle(context, 0, 0, bounds.size.width, bounds.size.height);
        cairo_fill(context);
        cairo_restore(context);
    }
    cairo_save(context);
    view.drawContent(context, bounds);
    cairo_restore(context);
    auto subviews = view.subviewList();
    for (auto& subview : subviews) {
        CGPoint origin = subview->frame().origin;
        cairo_save(context);
        cairo_translate(context, origin.x, origin.y);
        drawTree(*subview, context);
        cairo_restore(context);
    }
}

} // namespace

Runtime::RefPtr<UIImage> renderView(UIView* view, CGFloat scale)
{
    if (!view)
        return nullptr;
    Runtime::send(view, "layoutIfNeeded");
    ImageContextScope scope(view->bounds().size, scale);
    cairo_t* context = UIGraphicsGetCurrentContext();
    if (!context)
        return nullptr;
    drawTree(*view, context);
    return UIGraphicsGetImageFromCurrentImageContext();
}

bool writePNG(UIImage* image, const std::string& hostPath) { return image && image->writePNG(hostPath); }

} // namespace UIKit
