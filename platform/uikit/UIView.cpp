#include "platform/uikit/UIView.h"

#include "platform/uikit/UIColor.h"

#include <algorithm>
#include <array>

namespace UIKit {

using Runtime::send;

namespace {

const Runtime::ClassReference s_viewClass("UIView");

struct AxisMasks {
    uint64_t leading;
    uint64_t size;
    uint64_t trailing;
};
constexpr AxisMasks horizontalMasks { UIViewAutoresizingFlexibleLeftMargin, UIViewAutoresizingFlexibleWidth,
    UIViewAutoresizingFlexibleRightMargin };
constexpr AxisMasks verticalMasks { UIViewAutoresizingFlexibleTopMargin, UIViewAutoresizingFlexibleHeight,
    UIViewAutoresizingFlexibleBottomMargin };

// Moves and stretches a subview along one axis after its superview's extent went from
// oldExtent to newExtent. The change goes to the flexible parts (leading margin, size,
// trailing margin) in proportion to their current lengths, or evenly when those are all zero.
void autoresizeAxis(
    CGFloat& origin, CGFloat& length, CGFloat oldExtent, CGFloat newExtent, uint64_t mask, AxisMasks masks)
{
    CGFloat delta = newExtent - oldExtent;
    std::array<bool, 3> flexible { bool(mask & masks.leading), bool(mask & masks.size), bool(mask & masks.trailing) };
    std::array<CGFloat, 3> parts { origin, length, oldExtent - origin - length };
    int flexibleCount = 0;
    CGFloat flexibleTotal = 0;
    for (size_t i = 0; i < 3; ++i) {
        if (flexible[i]) {
            ++flexibleCount;
            flexibleTotal += std::max<CGFloat>(parts[i], 0);
        }
    }
    if (!flexibleCount || delta == 0)
        return;
    std::array<CGFloat, 3> shares {};
    for (size_t i = 0; i < 3; ++i) {
        if (flexible[i])
            shares[i]
                = flexibleTotal > 0 ? delta * std::max<CGFloat>(parts[i], 0) / flexibleTotal : delta / flexibleCount;
    }
    origin += shares[0];
    length += shares[1];
}

} // namespace

Runtime::Class* UIView::runtimeClass() { return s_viewClass.get(); }

Runtime::RefPtr<Runtime::Object> UIView::initWithFrame(CGRect frame)
{
    send(this, "setFrame:", frame);
    return Runtime::RefPtr<Runtime::Object>(this);
}

Runtime::RefPtr<Runtime::Object> UIView::init()
{
    return send<Runtime::RefPtr<Runtime::Object>>(this, "initWithFrame:", CGRect {});
}

void UIView::setFrame(CGRect frame)
{
    CGSize oldSize = m_frame.size;
    m_frame = frame;
    if (oldSize == frame.size)
        return;
    m_needsLayout = true;
    resizeSubviews(oldSize);
}

void UIView::resizeSubviews(CGSize oldSize)
{
    CGSize newSize = m_frame.size;
    // A copy: a subview's setFrame: may rearrange the tree.
    auto subviews = m_subviews;
    for (auto& subview : subviews) {
        auto mask = send<uint64_t>(subview, "autoresizingMask");
        if (!mask)
            continue;
        CGRect frame = send<CGRect>(subview, "frame");
        CGRect resized = frame;
        autoresizeAxis(resized.origin.x, resized.size.width, oldSize.width, newSize.width, mask, horizontalMasks);
        autoresizeAxis(resized.origin.y, resized.size.height, oldSize.height, newSize.height, mask, verticalMasks);
        if (resized != frame)
            send(subview, "setFrame:", resized);
    }
}

Runtime::Ref<Runtime::NSArray> UIView::subviews() const
{
    return Runtime::NSArray::create(
        std::vector<Runtime::RefPtr<Runtime::Object>>(m_subviews.begin(), m_subviews.end()));
}

void UIView::addSubview(UIView* view)
{
    if (!view)
        return;
    for (Runtime::RefPtr<UIView> ancestor = this; ancestor; ancestor = ancestor->m_superview.get()) {
        if (ancestor.get() == view)
            throw Runtime::NSException(Runtime::NSInvalidArgumentException, "Can't add self as subview");
    }
    Runtime::Ref<UIView> protectedView(*view);
    auto oldSuperview = view->m_superview.get();
    send(view, "willMoveToSuperview:", this);
    if (oldSuperview) {
        send(oldSuperview, "willRemoveSubview:", view);
        oldSuperview->detachSubview(view);
    }
    m_subviews.push_back(view);
    view->m_superview = this;
    m_needsLayout = true;
    send(this, "didAddSubview:", view);
    send(view, "didMoveToSuperview");
}

void UIView::removeFromSuperview()
{
    auto superview = m_superview.get();
    if (!superview)
        return;
    Runtime::Ref<UIView> protectedThis(*this);
    send(this, "willMoveToSuperview:", nullptr);
    send(superview, "willRemoveSubview:", this);
    superview->detachSubview(this);
    superview->m_needsLayout = true;
    send(this, "didMoveToSuperview");
}

void UIView::detachSubview(UIView* view)
{
    for (auto subview = m_subviews.begin(); subview != m_subviews.end(); ++subview) {
        if (subview->get() == view) {
            m_subviews.erase(subview);
            break;
        }
    }
    view->m_superview = nullptr;
}

void UIView::layoutIfNeeded()
{
    if (m_needsLayout) {
        m_needsLayout = false;
        send(this, "layoutSubviews");
    }
    auto subviews = m_subviews;
    for (auto& subview : subviews)
        send(subview, "layoutIfNeeded");
}

void UIView::sizeToFit()
{
    auto size = send<CGSize>(this, "sizeThatFits:", bounds().size);
    auto frame = send<CGRect>(this, "frame");
    frame.size = size;
    send(this, "setFrame:", frame);
}

Runtime::RefPtr<UIColor> UIView::backgroundColor() const { return m_backgroundColor; }

void UIView::setBackgroundColor(UIColor* color) { m_backgroundColor = color; }

void UIView::drawContent(cairo_t*, CGRect) const { }

} // namespace UIKit
