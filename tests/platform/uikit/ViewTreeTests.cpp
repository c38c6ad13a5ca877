#include "UIKitTestSupport.h"

#include "runtime/Substrate.h"

#include <mutex>
#include <string>
#include <vector>

namespace UIKitTesting {
namespace {

// A runtime subclass that records the calls UIKit makes to it, as a settings cell would see them.
class RecordingView {
public:
    static Class runtimeClass()
    {
        static Class const cls = CxxClass<RecordingView>::define("RecordingView", UIView::runtimeClass())
                                     .method<&RecordingView::didMoveToSuperview>("didMoveToSuperview")
                                     .method<&RecordingView::setFrame>("setFrame:")
                                     .method<&RecordingView::layoutSubviews>("layoutSubviews")
                                     .registerClass();
        return cls;
    }
    void didMoveToSuperview()
    {
        id superview = send<id>(selfOf(this), sel("superview"));
        m_events.push_back(superview ? "moved under " + std::to_string(send<CGRect>(superview, sel("frame")).size.width)
                                     : std::string("moved to nil"));
    }
    void setFrame(CGRect frame)
    {
        m_frames.push_back(frame);
        sendSuper(selfOf(this), runtimeClass(), sel("setFrame:"), frame);
    }
    void layoutSubviews() { ++m_layouts; }

    std::vector<std::string> m_events;
    std::vector<CGRect> m_frames;
    int m_layouts { 0 };
};

// A subclass whose frame getter answers something else than what was stored.
class LyingView {
public:
    static Class runtimeClass()
    {
        static Class const cls = CxxClass<LyingView>::define("LyingView", UIView::runtimeClass())
                                     .method<&LyingView::frame>("frame")
                                     .registerClass();
        return cls;
    }
    CGRect frame() const { return { { 1, 1 }, { 999, 999 } }; }
};

class ViewTreeTest : public UIKitTest {
protected:
    void SetUp() override
    {
        UIKitTest::SetUp();
        RecordingView::runtimeClass();
        LyingView::runtimeClass();
    }

    static std::vector<id> subviewsOf(id view)
    {
        std::vector<id> result;
        id array = send<id>(view, sel("subviews"));
        for (unsigned long index = 0; index < send<unsigned long>(array, sel("count")); ++index)
            result.push_back(send<id>(array, sel("objectAtIndex:"), index));
        return result;
    }
    static RecordingView& recorded(id view) { return stateOf<RecordingView>(view); }
};

TEST_F(ViewTreeTest, FrameIsStoredAndBoundsIsItsSizeAtTheOrigin)
{
    auto view = makeView("UIView", CGRectMake(10, 20, 100, 50));
    EXPECT_EQ(send<CGRect>(view, sel("frame")), CGRectMake(10, 20, 100, 50));
    EXPECT_EQ(send<CGRect>(view, sel("bounds")), CGRectMake(0, 0, 100, 50));
    send(view, sel("setFrame:"), CGRectMake(-5, 0, 30, 40));
    EXPECT_EQ(send<CGRect>(view, sel("bounds")), CGRectMake(0, 0, 30, 40));

    RetainPtr plain = allocInit(UIView::runtimeClass());
    EXPECT_EQ(send<CGRect>(plain, sel("frame")), CGRectZero) << "init is initWithFrame: with a zero frame";
    EXPECT_EQ(send<id>(plain, sel("contentView")), plain.get());
}

TEST_F(ViewTreeTest, InitWithFrameSetsTheFrameThroughDispatch)
{
    auto view = makeView("RecordingView", CGRectMake(1, 2, 3, 4));
    ASSERT_EQ(recorded(view).m_frames.size(), 1u);
    EXPECT_EQ(recorded(view).m_frames[0], CGRectMake(1, 2, 3, 4));
}

TEST_F(ViewTreeTest, BoundsComesFromTheStoredFrameNotFromAnOverriddenGetter)
{
    auto view = makeView("LyingView", CGRectMake(5, 5, 40, 30));
    EXPECT_EQ(send<CGRect>(view, sel("frame")).size.width, 999);
    EXPECT_EQ(send<CGRect>(view, sel("bounds")), CGRectMake(0, 0, 40, 30));
}

TEST_F(ViewTreeTest, SubviewsKeepTheirOrderAndReAddingMovesAViewToTheFront)
{
    auto parent = makeView("UIView", CGRectMake(0, 0, 100, 100));
    auto a = makeView("UIView", CGRectZero);
    auto b = makeView("UIView", CGRectZero);
    auto c = makeView("UIView", CGRectZero);
    for (id view : { a.get(), b.get(), c.get() })
        send(parent, sel("addSubview:"), view);
    EXPECT_EQ(subviewsOf(parent), (std::vector<id> { a, b, c }));
    EXPECT_EQ(send<id>(b, sel("superview")), parent.get());

    send(parent, sel("addSubview:"), a);
    EXPECT_EQ(subviewsOf(parent), (std::vector<id> { b, c, a }));

    auto other = makeView("UIView", CGRectZero);
    send(other, sel("addSubview:"), b);
    EXPECT_EQ(subviewsOf(parent), (std::vector<id> { c, a })) << "a view has one superview";
    EXPECT_EQ(send<id>(b, sel("superview")), other.get());

    send(c, sel("removeFromSuperview"));
    EXPECT_EQ(subviewsOf(parent), (std::vector<id> { a }));
    EXPECT_EQ(send<id>(c, sel("superview")), nullptr);
    EXPECT_NO_THROW(send(c, sel("removeFromSuperview"))) << "removing a view without a superview does nothing";
}

TEST_F(ViewTreeTest, TheSuperviewLinkIsWeakAndSubviewsAreOwned)
{
    auto child = makeView("UIView", CGRectZero);
    WeakPtr weakGrandchild;
    {
        auto parent = makeView("UIView", CGRectZero);
        auto grandchild = makeView("UIView", CGRectZero);
        weakGrandchild = WeakPtr(grandchild);
        send(parent, sel("addSubview:"), child);
        send(child, sel("addSubview:"), grandchild);
    }
    EXPECT_EQ(send<id>(child, sel("superview")), nullptr) << "the parent went away";
    EXPECT_NE(weakGrandchild.get(), nullptr) << "the child keeps its own subview alive";
}

TEST_F(ViewTreeTest, AddingAViewToItselfOrItsOwnSubviewRaises)
{
    auto parent = makeView("UIView", CGRectZero);
    auto child = makeView("UIView", CGRectZero);
    send(parent, sel("addSubview:"), child);
    // Foundation's NSInvalidArgumentException, which C++ catches as any exception.
    EXPECT_ANY_THROW(send(parent, sel("addSubview:"), parent));
    EXPECT_ANY_THROW(send(child, sel("addSubview:"), parent));
    EXPECT_NO_THROW(send(parent, sel("addSubview:"), nullptr));
    EXPECT_EQ(subviewsOf(parent).size(), 1u);
    EXPECT_EQ(send<id>(parent, sel("superview")), nullptr) << "the tree is as it was";
}

TEST_F(ViewTreeTest, DidMoveToSuperviewIsSentOnAddMoveAndRemoval)
{
    auto first = makeView("UIView", CGRectMake(0, 0, 100, 10));
    auto second = makeView("UIView", CGRectMake(0, 0, 200, 10));
    auto cell = makeView("RecordingView", CGRectZero);
    send(first, sel("addSubview:"), cell);
    send(second, sel("addSubview:"), cell);
    send(cell, sel("removeFromSuperview"));
    EXPECT_EQ(recorded(cell).m_events,
        (std::vector<std::string> { "moved under 100.000000", "moved under 200.000000", "moved to nil" }));
}

void (*s_savedDidMove)(id, SEL) = nullptr;
int s_hookedMoves = 0;
void countingDidMove(id self, SEL selector)
{
    ++s_hookedMoves;
    s_savedDidMove(self, selector);
}

TEST_F(ViewTreeTest, AHookOnUIViewSeesEveryDidMoveToSuperview)
{
    s_hookedMoves = 0;
    hookMessage(UIView::runtimeClass(), sel("didMoveToSuperview"), &countingDidMove, &s_savedDidMove);
    auto parent = makeView("UIView", CGRectZero);
    auto label = makeView("UILabel", CGRectZero);
    send(parent, sel("addSubview:"), label);
    send(label, sel("removeFromSuperview"));
    EXPECT_EQ(s_hookedMoves, 2);
}

TEST_F(ViewTreeTest, FlexibleWidthFollowsTheSuperviewsWidthChange)
{
    auto parent = makeView("UIView", CGRectMake(0, 0, 320, 44));
    auto flexible = makeView("UIView", CGRectMake(15, 0, 290, 44));
    auto fixed = makeView("UIView", CGRectMake(15, 0, 100, 44));
    send(flexible, sel("setAutoresizingMask:"), uint64_t(UIViewAutoresizingFlexibleWidth));
    EXPECT_EQ(send<uint64_t>(flexible, sel("autoresizingMask")), 2u);
    send(parent, sel("addSubview:"), flexible);
    send(parent, sel("addSubview:"), fixed);

    send(parent, sel("setFrame:"), CGRectMake(0, 0, 375, 44));
    EXPECT_EQ(send<CGRect>(flexible, sel("frame")), CGRectMake(15, 0, 345, 44)) << "width grows by the same 55 points";
    EXPECT_EQ(send<CGRect>(fixed, sel("frame")), CGRectMake(15, 0, 100, 44)) << "no mask, no change";

    send(parent, sel("setFrame:"), CGRectMake(50, 50, 300, 44));
    EXPECT_EQ(send<CGRect>(flexible, sel("frame")), CGRectMake(15, 0, 270, 44))
        << "and shrinks; the origin change is not a size change";
}

TEST_F(ViewTreeTest, AutoresizingGoesThroughTheSubviewsOverriddenSetFrame)
{
    auto parent = makeView("UIView", CGRectMake(0, 0, 320, 60));
    auto cell = makeView("RecordingView", CGRectMake(0, 0, 320, 60));
    send(cell, sel("setAutoresizingMask:"), uint64_t(UIViewAutoresizingFlexibleWidth));
    send(parent, sel("addSubview:"), cell);
    recorded(cell).m_frames.clear();
    send(parent, sel("setFrame:"), CGRectMake(0, 0, 414, 60));
    ASSERT_EQ(recorded(cell).m_frames.size(), 1u);
    EXPECT_EQ(recorded(cell).m_frames[0], CGRectMake(0, 0, 414, 60));
}

TEST_F(ViewTreeTest, FlexibleMarginsShareTheChangeInProportion)
{
    auto parent = makeView("UIView", CGRectMake(0, 0, 300, 100));
    auto centred = makeView("UIView", CGRectMake(100, 0, 100, 100));
    send(centred, sel("setAutoresizingMask:"),
        uint64_t(UIViewAutoresizingFlexibleLeftMargin | UIViewAutoresizingFlexibleRightMargin));
    auto pinnedRight = makeView("UIView", CGRectMake(250, 0, 50, 100));
    send(pinnedRight, sel("setAutoresizingMask:"), uint64_t(UIViewAutoresizingFlexibleLeftMargin));
    send(parent, sel("addSubview:"), centred);
    send(parent, sel("addSubview:"), pinnedRight);
    send(parent, sel("setFrame:"), CGRectMake(0, 0, 400, 100));
    EXPECT_EQ(send<CGRect>(centred, sel("frame")), CGRectMake(150, 0, 100, 100)) << "stays centred";
    EXPECT_EQ(send<CGRect>(pinnedRight, sel("frame")), CGRectMake(350, 0, 50, 100)) << "stays at the right edge";
}

TEST_F(ViewTreeTest, LayoutSubviewsRunsOnlyWhenLayoutIsNeeded)
{
    auto cell = makeView("RecordingView", CGRectMake(0, 0, 100, 44));
    send(cell, sel("layoutIfNeeded"));
    EXPECT_EQ(recorded(cell).m_layouts, 1) << "a new view needs layout";
    send(cell, sel("layoutIfNeeded"));
    EXPECT_EQ(recorded(cell).m_layouts, 1);
    send(cell, sel("setNeedsLayout"));
    send(cell, sel("layoutIfNeeded"));
    EXPECT_EQ(recorded(cell).m_layouts, 2);
    send(cell, sel("setFrame:"), CGRectMake(0, 0, 200, 44));
    auto parent = makeView("UIView", CGRectZero);
    send(parent, sel("addSubview:"), cell);
    send(parent, sel("layoutIfNeeded"));
    EXPECT_EQ(recorded(cell).m_layouts, 3) << "a size change needs layout, and the superview's pass reaches its subviews";
}

TEST_F(ViewTreeTest, ViewPropertiesReadBackAndNilReadsZero)
{
    auto view = makeView("UIView", CGRectZero);
    EXPECT_EQ(send<id>(view, sel("backgroundColor")), nullptr);
    send(view, sel("setBackgroundColor:"), send<id>(UIColor::runtimeClass(), sel("grayColor")));
    UIColor* color = UIColor::from(send<id>(view, sel("backgroundColor")));
    ASSERT_NE(color, nullptr);
    EXPECT_DOUBLE_EQ(color->red(), 0.5);
    EXPECT_DOUBLE_EQ(color->alpha(), 1.0);
    EXPECT_FALSE(send<bool>(view, sel("isHidden")));
    send(view, sel("setHidden:"), true);
    EXPECT_TRUE(send<bool>(view, sel("isHidden")));
    id nothing = nullptr;
    EXPECT_EQ(send<CGRect>(nothing, sel("frame")), CGRectZero);
}

TEST_F(ViewTreeTest, ViewsOfEveryClassCarryTheirStateAndGiveItUpWithTheirLastReference)
{
    WeakPtr label;
    {
        auto view = makeView("UILabel", CGRectMake(0, 0, 10, 10));
        label = WeakPtr(view);
        send(view, sel("setText:"), text("gone soon"));
        ASSERT_NE(UIView::from(view), nullptr) << "a label is a view";
        ASSERT_NE(UILabel::from(view), nullptr);
        EXPECT_EQ(UILabel::from(view)->textString(), "gone soon");
        EXPECT_EQ(UILabel::from(makeView("UIView", CGRectZero)), nullptr) << "a view is no label";
        EXPECT_EQ(UIView::from(text("text")), nullptr) << "a string is no view";
    }
    EXPECT_EQ(label.get(), nullptr);
}

} // namespace
} // namespace UIKitTesting
