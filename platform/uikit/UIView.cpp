#include "platform/uikit/UIView.h"

#include "platform/uikit/UIKitObjects.h"

#include <algorithm>
#include <array>

namespace UIKit {

using ObjC::send;
using ObjC::sel;

namespace {

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

Class UIView::runtimeClass() { return ObjC::CxxClass<UIView>::runtimeClass(); }

UIView* UIView::from(id object) { return stateIfKindOf<UIView>(object); }

id UIView::initWithFrame(CGRect frame)
{
    static SEL const setFrame = sel("setFrame:");
    send(self(), setFrame, frame);
    return self();
}

id UIView::init()
{
    static SEL const initWithFrame = sel("initWithFrame:");
    return send<id>(self(), initWithFrame, CGRect {});
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
    static SEL const autoresizingMask = sel("autoresizingMask");
    static SEL const frameSelector = sel("frame");
    static SEL const setFrame = sel("setFrame:");
    CGSize newSize = m_frame.size;
    // A copy: a subview's setFrame: may rearrange the tree.
    auto subviews = m_subviews;
    for (auto& subview : subviews) {
        auto mask = send<uint64_t>(subview, autoresizingMask);
        if (!mask)
            continue;
        CGRect frame = send<CGRect>(subview, frameSelector);
        CGRect resized = frame;
        autoresizeAxis(resized.origin.x, resized.size.width, oldSize.width, newSize.width, mask, horizontalMasks);
        autoresizeAxis(resized.origin.y, resized.size.height, oldSize.height, newSize.height, mask, verticalMasks);
        if (resized != frame)
            send(subview, setFrame, resized);
    }
}

id UIView::subviews() const
{
    return arrayOf(m_subviews);
}

void UIView::addSubview(id view)
{
    static SEL const willMoveToSuperview = sel("willMoveToSuperview:");
    static SEL const willRemoveSubview = sel("willRemoveSubview:");
    static SEL const didAddSubview = sel("didAddSubview:");
    static SEL const didMoveToSuperview = sel("didMoveToSuperview");
    UIView* added = from(view);
    if (!added)
        return;
    for (ObjC::RetainPtr ancestor = self(); ancestor; ancestor = from(ancestor)->m_superview.get()) {
        if (ancestor.get() == view)
            raiseException("NSInvalidArgumentException", "Can't add self as subview");
    }
    ObjC::RetainPtr protectedView = view;
    ObjC::RetainPtr oldSuperview = added->m_superview.get();
    send(view, willMoveToSuperview, self());
    if (oldSuperview) {
        send(oldSuperview, willRemoveSubview, view);
        from(oldSuperview)->detachSubview(view);
    }
    m_subviews.emplace_back(view);
    added->m_superview = ObjC::WeakPtr(self());
    m_needsLayout = true;
    send(self(), didAddSubview, view);
    send(view, didMoveToSuperview);
}

void UIView::removeFromSuperview()
{
    static SEL const willMoveToSuperview = sel("willMoveToSuperview:");
    static SEL const willRemoveSubview = sel("willRemoveSubview:");
    static SEL const didMoveToSuperview = sel("didMoveToSuperview");
    ObjC::RetainPtr superview = m_superview.get();
    if (!superview)
        return;
    ObjC::RetainPtr protectedSelf = self();
    send(self(), willMoveToSuperview, nullptr);
    send(superview, willRemoveSubview, self());
    UIView* parent = from(superview);
    parent->detachSubview(self());
    parent->m_needsLayout = true;
    send(self(), didMoveToSuperview);
}

void UIView::detachSubview(id view)
{
    for (auto subview = m_subviews.begin(); subview != m_subviews.end(); ++subview) {
        if (subview->get() == view) {
            m_subviews.erase(subview);
            break;
        }
    }
    if (UIView* detached = from(view))
        detached->m_superview = ObjC::WeakPtr();
}

void UIView::layoutIfNeeded()
{
    static SEL const layoutSubviews = sel("layoutSubviews");
    static SEL const layoutIfNeededSelector = sel("layoutIfNeeded");
    if (m_needsLayout) {
        m_needsLayout = false;
        send(self(), layoutSubviews);
    }
    auto subviews = m_subviews;
    for (auto& subview : subviews)
        send(subview, layoutIfNeededSelector);
}

void UIView::sizeToFit()
{
    static SEL const sizeThatFitsSelector = sel("sizeThatFits:");
    static SEL const frameSelector = sel("frame");
    static SEL const setFrame = sel("setFrame:");
    auto size = send<CGSize>(self(), sizeThatFitsSelector, bounds().size);
    auto frame = send<CGRect>(self(), frameSelector);
    frame.size = size;
    send(self(), setFrame, frame);
}

} // namespace UIKit
