#include "UIKitTestSupport.h"

#include <stdexcept>

namespace UIKitTesting {
namespace {

// A subclass drawing itself in drawRect:, as switches and sliders do.
class SquareView {
public:
    void drawRect(CGRect bounds) const
    {
        cairo_t* context = UIGraphicsGetCurrentContext();
        cairo_set_source_rgb(context, 0, 0, 1);
        cairo_rectangle(context, 0, 0, bounds.size.width / 2, bounds.size.height / 2);
        cairo_fill(context);
    }
};

class RenderTest : public UIKitTest {
protected:
    void SetUp() override
    {
        UIKitTest::SetUp();
        static Class const square
            = CxxClass<SquareView>::define("SquareView", UIView::runtimeClass()).method<&SquareView::drawRect>("drawRect:").registerClass();
        ASSERT_NE(square, nullptr);
    }

    RetainPtr addLabel(id parent, const std::string& content, CGRect frame)
    {
        auto label = makeView("UILabel", frame);
        send(label, sel("setText:"), text(content.c_str()));
        send(label, sel("setFont:"), send<id>(UIFont::runtimeClass(), sel("systemFontOfSize:"), 20.0));
        send(parent, sel("addSubview:"), label);
        return label;
    }
    static UIImage& render(id view, CGFloat scale)
    {
        UIImage* image = UIImage::from(renderView(view, scale));
        if (!image)
            throw std::runtime_error("nothing was drawn");
        return *image;
    }

    // The dark pixels' bounding box in pixels; empty when there are none.
    struct Box {
        int left { INT32_MAX }, top { INT32_MAX }, right { -1 }, bottom { -1 };
        bool empty() const { return right < 0; }
    };
    static Box darkBox(const UIImage& image)
    {
        Box box;
        for (int y = 0; y < image.pixelHeight(); ++y) {
            for (int x = 0; x < image.pixelWidth(); ++x) {
                if (isDark(image.pixelAt(x, y))) {
                    box = { std::min(box.left, x), std::min(box.top, y), std::max(box.right, x),
                        std::max(box.bottom, y) };
                }
            }
        }
        return box;
    }
};

TEST_F(RenderTest, ALabelOnAColouredViewDrawsTheColourAndDarkText)
{
    auto background = makeView("UIView", CGRectMake(0, 0, 200, 60));
    send(background, sel("setBackgroundColor:"), rgb(1, 0.8, 0));
    auto label = addLabel(background, "Kestrel", CGRectMake(20, 10, 0, 0));
    send(label, sel("sizeToFit"));

    UIImage* image = UIImage::from(renderView(background, 2));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->size(), CGSizeMake(200, 60));
    EXPECT_EQ(image->pixelAt(2, 2), (UIImage::RGBA { 255, 204, 0, 255 }));
    Box text = darkBox(*image);
    ASSERT_FALSE(text.empty()) << "the text shows";
    CGRect frame = send<CGRect>(label, sel("frame"));
    EXPECT_GE(text.left, int(frame.origin.x * 2));
    EXPECT_GE(text.top, int(frame.origin.y * 2));
    EXPECT_LE(text.right, int(CGRectGetMaxX(frame) * 2));
    EXPECT_LE(text.bottom, int(CGRectGetMaxY(frame) * 2));
    EXPECT_GT(text.right - text.left, 60) << "the whole word, not an ellipsis: sizeToFit matches the drawing";
}

TEST_F(RenderTest, TextIsClippedToTheLabelsFrame)
{
    auto background = makeView("UIView", CGRectMake(0, 0, 300, 40));
    addLabel(background, "WWWWWWWWWWWWWWWWWWWWWWWWWWW", CGRectMake(10, 0, 100, 40));
    id label = send<id>(send<id>(background, sel("subviews")), sel("firstObject"));
    send(label, sel("setNumberOfLines:"), int64_t(0));
    Box text = darkBox(render(background, 1));
    ASSERT_FALSE(text.empty());
    EXPECT_GE(text.left, 10);
    EXPECT_LE(text.right, 110);
}

TEST_F(RenderTest, AlignmentPlacesTheTextInTheLabel)
{
    auto background = makeView("UIView", CGRectMake(0, 0, 300, 30));
    auto label = addLabel(background, "On", CGRectMake(0, 0, 300, 30));
    Box left = darkBox(render(background, 1));
    send(label, sel("setTextAlignment:"), int64_t(NSTextAlignmentCenter));
    Box centred = darkBox(render(background, 1));
    send(label, sel("setTextAlignment:"), int64_t(NSTextAlignmentRight));
    Box right = darkBox(render(background, 1));
    EXPECT_LT(left.right, 60);
    EXPECT_NEAR((centred.left + centred.right) / 2.0, 150, 4);
    EXPECT_GT(right.left, 240);
    EXPECT_NEAR((centred.top + centred.bottom) / 2.0, 15, 4) << "vertically centred";
}

TEST_F(RenderTest, HiddenViewsAndTheirSubviewsAreNotDrawn)
{
    auto background = makeView("UIView", CGRectMake(0, 0, 100, 40));
    auto group = makeView("UIView", CGRectMake(0, 0, 100, 40));
    send(group, sel("setBackgroundColor:"), rgb(0, 1, 0));
    send(background, sel("addSubview:"), group);
    addLabel(group, "Hidden", CGRectMake(0, 0, 100, 40));
    send(group, sel("setHidden:"), true);
    UIImage& image = render(background, 1);
    EXPECT_EQ(image.pixelAt(50, 20).alpha, 0);
    EXPECT_TRUE(darkBox(image).empty());
}

TEST_F(RenderTest, SubviewsDrawBackToFrontAtTheirFramesWithTheDrawingHook)
{
    auto background = makeView("UIView", CGRectMake(0, 0, 100, 100));
    auto square = makeView("SquareView", CGRectMake(50, 50, 40, 40));
    auto cover = makeView("UIView", CGRectMake(0, 0, 60, 60));
    send(cover, sel("setBackgroundColor:"), rgb(1, 0, 0));
    send(background, sel("addSubview:"), square);
    send(background, sel("addSubview:"), cover);
    UIImage& image = render(background, 1);
    EXPECT_EQ(image.pixelAt(65, 65), (UIImage::RGBA { 0, 0, 255, 255 })) << "drawRect: drew at the subview's origin";
    EXPECT_EQ(image.pixelAt(55, 55), (UIImage::RGBA { 255, 0, 0, 255 })) << "the later subview is in front";
    EXPECT_EQ(image.pixelAt(80, 80).alpha, 0) << "outside the square's own drawing";
}

TEST_F(RenderTest, AnImageViewFitsItsImageKeepingTheAspectRatio)
{
    auto wide = solidImage(CGSizeMake(20, 10), 1, rgb(0, 0, 1));
    auto imageView = makeView("UIImageView", CGRectMake(0, 0, 40, 40));
    send(imageView, sel("setImage:"), wide);
    send(imageView, sel("setContentMode:"), int64_t(UIViewContentModeScaleAspectFit));
    EXPECT_EQ(send<id>(imageView, sel("image")), wide);
    UIImage& image = render(imageView, 1);
    EXPECT_EQ(image.pixelAt(20, 5).alpha, 0) << "letterboxed above";
    EXPECT_EQ(image.pixelAt(0, 20), (UIImage::RGBA { 0, 0, 255, 255 })) << "full width";
    EXPECT_EQ(image.pixelAt(20, 35).alpha, 0) << "letterboxed below";

    EXPECT_EQ(UIImageView::imageRect(CGSizeMake(10, 20), CGRectMake(0, 0, 40, 40), UIViewContentModeScaleAspectFit),
        CGRectMake(10, 0, 20, 40));
    EXPECT_EQ(UIImageView::imageRect(CGSizeMake(10, 20), CGRectMake(0, 0, 40, 40), UIViewContentModeScaleToFill),
        CGRectMake(0, 0, 40, 40));
}

TEST_F(RenderTest, InitWithImageSizesTheViewToTheImage)
{
    auto icon = solidImage(CGSizeMake(29, 29), 2, rgb(0, 0, 0));
    RetainPtr imageView = adopt(send<id>(send<id>(UIImageView::runtimeClass(), sel("alloc")), sel("initWithImage:"), icon));
    EXPECT_EQ(send<CGRect>(imageView, sel("frame")), CGRectMake(0, 0, 29, 29));
}

TEST_F(RenderTest, ARenderedImageIsWrittenAsAReadablePNG)
{
    auto view = makeView("UIView", CGRectMake(0, 0, 30, 10));
    send(view, sel("setBackgroundColor:"), rgb(0, 0.5, 1));
    id image = renderView(view, 2);
    std::string path = hostPath("/tmp/render.png");
    ASSERT_TRUE(writePNG(image, path));
    UIImage* readBack = UIImage::from(UIImage::imageWithContentsOfFile(text("/tmp/render.png")));
    ASSERT_NE(readBack, nullptr);
    EXPECT_EQ(readBack->size(), CGSizeMake(60, 20)) << "pixels at scale 1 once read from a file";
    EXPECT_EQ(readBack->pixelAt(1, 1), UIImage::from(image)->pixelAt(1, 1));
    EXPECT_FALSE(writePNG(nullptr, path));
    EXPECT_FALSE(writePNG(text("not an image"), path));
    EXPECT_FALSE(writePNG(image, hostPath("/tmp/no/such/folder/x.png") + "/"));
    EXPECT_EQ(renderView(nullptr), nullptr);
    EXPECT_EQ(renderView(text("not a view")), nullptr);
}

} // namespace
} // namespace UIKitTesting
