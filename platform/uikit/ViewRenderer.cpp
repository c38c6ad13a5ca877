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
void drawTree(id object, cairo_t* context)
{
    static SEL const drawRect = ObjC::sel("drawRect:");
    UIView* view = UIView::from(object);
    if (!view || view->isHidden())
        return;
    CGRect bounds = view->bounds();
    if (UIColor* color = UIColor::from(view->backgroundColor()); color && color->alpha() > 0) {
        cairo_save(context);
        color->applyTo(context);
        cairo_rectangle(context, 0, 0, bounds.size.width, bounds.size.height);
        cairo_fill(context);
        cairo_restore(context);
    }
    cairo_save(context);
    ObjC::send(object, drawRect, bounds);
    cairo_restore(context);
    auto subviews = view->subviewList();
    for (auto& subview : subviews) {
        CGPoint origin = UIView::from(subview)->frame().origin;
        cairo_save(context);
        cairo_translate(context, origin.x, origin.y);
        drawTree(subview, context);
        cairo_restore(context);
    }
}

} // namespace

id renderView(id object, CGFloat scale)
{
    static SEL const layoutIfNeeded = ObjC::sel("layoutIfNeeded");
    UIView* view = UIView::from(object);
    if (!view)
        return nullptr;
    ObjC::send(object, layoutIfNeeded);
    ImageContextScope scope(view->bounds().size, scale);
    cairo_t* context = UIGraphicsGetCurrentContext();
    if (!context)
        return nullptr;
    drawTree(object, context);
    return UIGraphicsGetImageFromCurrentImageContext();
}

bool writePNG(id image, const std::string& hostPath)
{
    UIImage* state = UIImage::from(image);
    return state && state->writePNG(hostPath);
}

} // namespace UIKit
