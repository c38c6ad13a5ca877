#include "UIKitTestSupport.h"

#include <string>
#include <vector>

namespace UIKitTesting {
namespace {

// A runtime subclass that records the calls UIKit makes to it, as a settings cell would see them.
class RecordingView : public UIView {
public:
    void didMoveToSuperview()
    {
        auto superview = send<RefPtr<UIView>>(this, "superview");
        m_events.push_back(superview ? "moved under " + std::to_string(send<CGRect>(superview, "frame").size.width)
                                     : std::string("moved to nil"));
    }
    void setFrame(CGRect frame)
    {
        m_frames.push_back(frame);
        UIView::setFrame(frame);
    }
    void layoutSubviews() { ++m_layouts; }

    std::vector<std::string> m_events;
    std::vector<CGRect> m_frames;
    int m_layouts { 0 };
};

// A subclass whose frame getter answers something else than what was stored.
class LyingView : public UIView {
public:
    CGRect frame() const { return { { 1, 1 }, { 999, 999 } }; }
};

class ViewTreeTest : public UIKitTest {
protected:
    void SetUp() override
    {
        UIKitTest::SetUp();
        ClassBuilder<RecordingView>("RecordingView", "UIView")
            .method<&RecordingView::didMoveToSuperview>("didMoveToSuperview")
            .method<&RecordingView::setFrame>("setFrame:")
            .method<&RecordingView::layoutSubviews>("layoutSubviews");
        ClassBuilder<LyingView>("LyingView", "UIView").method<&LyingView::frame>("frame");
    }

    static std::vector<UIView*> subviewsOf(const RefPtr<UIView>& view)
    {
        std::vector<UIView*> result;
        auto array = send<RefPtr<NSArray>>(view, "subviews");
        for (auto& object : array->objects())
            result.push_back(static_cast<UIView*>(object.get()));
        return result;
    }
};

TEST_F(ViewTreeTest, FrameIsStoredAndBoundsIsItsSizeAtTheOrigin)
{
    auto view = makeView("UIView", CGRectMake(10, 20, 100, 50));
    EXPECT_EQ(send<CGRect>(view, "frame"), CGRectMake(10, 20, 100, 50));
    EXPECT_EQ(send<CGRect>(view, "bounds"), CGRectMake(0, 0, 100, 50));
    send(view, "setFrame:", CGRectMake(-5, 0, 30, 40));
    EXPECT_EQ(send<CGRect>(view, "bounds"), CGRectMake(0, 0, 30, 40));

    auto plain = send<RefPtr<UIView>>(send<RefPtr<Object>>(UIView::runtimeClass(), "alloc"), "init");
    EXPECT_EQ(send<CGRect>(plain, "frame"), CGRectZero) << "init is initWithFrame: with a zero frame";
    EXPECT_EQ(send<RefPtr<UIView>>(plain, "contentView"), plain);
}

TEST_F(ViewTreeTest, InitWithFrameSetsTheFrameThroughDispatch)
{
    auto view = makeView<RecordingView>("RecordingView", CGRectMake(1, 2, 3, 4));
    ASSERT_EQ(view->m_frames.size(), 1u);
    EXPECT_EQ(view->m_frames[0], CGRectMake(1, 2, 3, 4));
}

TEST_F(ViewTreeTest, BoundsComesFromTheStoredFrameNotFromAnOverriddenGetter)
{
    auto view = makeView("LyingView", CGRectMake(5, 5, 40, 30));
    EXPECT_EQ(send<CGRect>(view, "frame").size.width, 999);
    EXPECT_EQ(send<CGRect>(view, "bounds"), CGRectMake(0, 0, 40, 30));
}

TEST_F(ViewTreeTest, SubviewsKeepTheirOrderAndReAddingMovesAViewToTheFront)
{
    auto parent = makeView("UIView", CGRectMake(0, 0, 100, 100));
    auto a = makeView("UIView", CGRectZero);
    auto b = makeView("UIView", CGRectZero);
    auto c = makeView("UIView", CGRectZero);
    for (auto& view : { a, b, c })
        send(parent, "addSubview:", view);
    EXPECT_EQ(subviewsOf(parent), (std::vector<UIView*> { a.get(), b.get(), c.get() }));
    EXPECT_EQ(send<RefPtr<UIView>>(b, "superview"), parent);

    send(parent, "addSubview:", a);
    EXPECT_EQ(subviewsOf(parent), (std::vector<UIView*> { b.get(), c.get(), a.get() }));

    auto other = makeView("UIView", CGRectZero);
    send(other, "addSubview:", b);
    EXPECT_EQ(subviewsOf(parent), (std::vector<UIView*> { c.get(), a.get() })) << "a view has one superview";
    EXPECT_EQ(send<RefPtr<UIView>>(b, "superview"), other);

    send(c, "removeFromSuperview");
    EXPECT_EQ(subviewsOf(parent), (std::vector<UIView*> { a.get() }));
    EXPECT_EQ(send<RefPtr<UIView>>(c, "superview"), nullptr);
    EXPECT_NO_THROW(send(c, "removeFromSuperview")) << "removing a view without a superview does nothing";
}

TEST_F(ViewTreeTest, TheSuperviewLinkIsWeakAndSubviewsAreOwned)
{
    auto child = makeView("UIView", CGRectZero);
    WeakPtr<UIView> weakGrandchild;
    {
        auto parent = makeView("UIView", CGRectZero);
        auto grandchild = makeView("UIView", CGRectZero);
        weakGrandchild = grandchild;
        send(parent, "addSubview:", child);
        send(child, "addSubview:", grandchild);
    }
    EXPECT_EQ(send<RefPtr<UIView>>(child, "superview"), nullptr) << "the parent went away";
    EXPECT_NE(weakGrandchild.get(), nullptr) << "the child keeps its own subview alive";
}

TEST_F(ViewTreeTest, AddingAViewToItselfOrItsOwnSubviewRaises)
{
    auto parent = makeView("UIView", CGRectZero);
    auto child = makeView("UIView", CGRectZero);
    send(parent, "addSubview:", child);
    EXPECT_THROW(send(parent, "addSubview:", parent), NSException);
    EXPECT_THROW(send(child, "addSubview:", parent), NSException);
    EXPECT_NO_THROW(send(parent, "addSubview:", nullptr));
    EXPECT_EQ(subviewsOf(parent).size(), 1u);
}

TEST_F(ViewTreeTest, DidMoveToSuperviewIsSentOnAddMoveAndRemoval)
{
    auto first = makeView("UIView", CGRectMake(0, 0, 100, 10));
    auto second = makeView("UIView", CGRectMake(0, 0, 200, 10));
    auto cell = makeView<RecordingView>("RecordingView", CGRectZero);
    send(first, "addSubview:", cell);
    send(second, "addSubview:", cell);
    send(cell, "removeFromSuperview");
    EXPECT_EQ(cell->m_events,
        (std::vector<std::string> { "moved under 100.000000", "moved under 200.000000", "moved to nil" }));
}

SavedImplementation<void()> s_savedDidMove;
int s_hookedMoves = 0;
void countingDidMove(Object* self, Selector selector)
{
    ++s_hookedMoves;
    s_savedDidMove(self, selector);
}

TEST_F(ViewTreeTest, AHookOnUIViewSeesEveryDidMoveToSuperview)
{
    s_savedDidMove.clear();
    s_hookedMoves = 0;
    MSHookMessageEx(UIView::runtimeClass(), sel("didMoveToSuperview"), &countingDidMove, &s_savedDidMove);
    auto parent = makeView("UIView", CGRectZero);
    auto label = makeView("UILabel", CGRectZero);
    send(parent, "addSubview:", label);
    send(label, "removeFromSuperview");
    EXPECT_EQ(s_hookedMoves, 2);
}

TEST_F(ViewTreeTest, FlexibleWidthFollowsTheSuperviewsWidthChange)
{
    auto parent = makeView("UIView", CGRectMake(0, 0, 320, 44));
    auto flexible = makeView("UIView", CGRectMake(15, 0, 290, 44));
    auto fixed = makeView("UIView", CGRectMake(15, 0, 100, 44));
    send(flexible, "setAutoresizingMask:", uint64_t(UIViewAutoresizingFlexibleWidth));
    EXPECT_EQ(send<uint64_t>(flexible, "autoresizingMask"), 2u);
    send(parent, "addSubview:", flexible);
    send(parent, "addSubview:", fixed);

    send(parent, "setFrame:", CGRectMake(0, 0, 375, 44));
    EXPECT_EQ(send<CGRect>(flexible, "frame"), CGRectMake(15, 0, 345, 44)) << "width grows by the same 55 points";
    EXPECT_EQ(send<CGRect>(fixed, "frame"), CGRectMake(15, 0, 100, 44)) << "no mask, no change";

    send(parent, "setFrame:", CGRectMake(50, 50, 300, 44));
    EXPECT_EQ(send<CGRect>(flexible, "frame"), CGRectMake(15, 0, 270, 44))
        << "and shrinks; the origin change is not a size change";
}

TEST_F(ViewTreeTest, AutoresizingGoesThroughTheSubviewsOverriddenSetFrame)
{
    auto parent = makeView("UIView", CGRectMake(0, 0, 320, 60));
    auto cell = makeView<RecordingView>("RecordingView", CGRectMake(0, 0, 320, 60));
    send(cell, "setAutoresizingMask:", uint64_t(UIViewAutoresizingFlexibleWidth));
    send(parent, "addSubview:", cell);
    cell->m_frames.clear();
    send(parent, "setFrame:", CGRectMake(0, 0, 414, 60));
    ASSERT_EQ(cell->m_frames.size(), 1u);
    EXPECT_EQ(cell->m_frames[0], CGRectMake(0, 0, 414, 60));
}

TEST_F(ViewTreeTest, FlexibleMarginsShareTheChangeInProportion)
{
    auto parent = makeView("UIView", CGRectMake(0, 0, 300, 100));
    auto centred = makeView("UIView", CGRectMake(100, 0, 100, 100));
    send(centred,
        "setAutoresizingMask:", uint64_t(UIViewAutoresizingFlexibleLeftMargin | UIViewAutoresizingFlexibleRightMargin));
    auto pinnedRight = makeView("UIView", CGRectMake(250, 0, 50, 100));
    send(pinnedRight, "setAutoresizingMask:", uint64_t(UIViewAutoresizingFlexibleLeftMargin));
    send(parent, "addSubview:", centred);
    send(parent, "addSubview:", pinnedRight);
    send(parent, "setFrame:", CGRectMake(0, 0, 400, 100));
    EXPECT_EQ(send<CGRect>(centred, "frame"), CGRectMake(150, 0, 100, 100)) << "stays centred";
    EXPECT_EQ(send<CGRect>(pinnedRight, "frame"), CGRectMake(350, 0, 50, 100)) << "stays at the right edge";
}

TEST_F(ViewTreeTest, LayoutSubviewsRunsOnlyWhenLayoutIsNeeded)
{
    auto cell = makeView<RecordingView>("RecordingView", CGRectMake(0, 0, 100, 44));
    send(cell, "layoutIfNeeded");
    EXPECT_EQ(cell->m_layouts, 1) << "a new view needs layout";
    send(cell, "layoutIfNeeded");
    EXPECT_EQ(cell->m_layouts, 1);
    send(cell, "setNeedsLayout");
    send(cell, "layoutIfNeeded");
    EXPECT_EQ(cell->m_layouts, 2);
    send(cell, "setFrame:", CGRectMake(0, 0, 200, 44));
    auto parent = makeView("UIView", CGRectZero);
    send(parent, "addSubview:", cell);
    send(parent, "layoutIfNeeded");
    EXPECT_EQ(cell->m_layouts, 3) << "a size change needs layout, and the superview's pass reaches its subviews";
}

TEST_F(ViewTreeTest, ViewPropertiesReadBackAndNilReadsZero)
{
    auto view = makeView("UIView", CGRectZero);
    EXPECT_EQ(send<RefPtr<UIColor>>(view, "backgroundColor"), nullptr);
    send(view, "setBackgroundColor:", send<RefPtr<UIColor>>(UIColor::runtimeClass(), "grayColor"));
    auto color = send<RefPtr<UIColor>>(view, "backgroundColor");
    ASSERT_NE(color, nullptr);
    EXPECT_DOUBLE_EQ(color->red(), 0.5);
    EXPECT_DOUBLE_EQ(color->alpha(), 1.0);
    EXPECT_FALSE(send<bool>(view, "isHidden"));
    send(view, "setHidden:", true);
    EXPECT_TRUE(send<bool>(view, "isHidden"));
    UIView* nothing = nullptr;
    EXPECT_EQ(send<CGRect>(nothing, "frame"), CGRectZero);
}

} // namespace
} // namespace UIKitTesting
