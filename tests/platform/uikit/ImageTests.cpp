#include "UIKitTestSupport.h"

#include <cairo.h>
#include <fstream>
#include <sys/stat.h>

namespace UIKitTesting {
namespace {

class ImageTest : public UIKitTest {
protected:
    // A PNG made with cairo directly, independent of the code under test.
    void writePNG(const std::string& devicePath, int width, int height, double red, double green, double blue)
    {
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
        cairo_t* context = cairo_create(surface);
        cairo_set_source_rgb(context, red, green, blue);
        cairo_paint(context);
        cairo_destroy(context);
        ASSERT_EQ(cairo_surface_write_to_png(surface, hostPath(devicePath).c_str()), CAIRO_STATUS_SUCCESS);
        cairo_surface_destroy(surface);
    }
    void writeBytes(const std::string& devicePath, const std::string& bytes)
    {
        std::ofstream(hostPath(devicePath), std::ios::binary) << bytes;
    }
    // [[UIImage alloc] initWithContentsOfFile:path], owned.
    RetainPtr load(const std::string& devicePath)
    {
        id allocated = send<id>(UIImage::runtimeClass(), sel("alloc"));
        return adopt(send<id>(allocated, sel("initWithContentsOfFile:"), text(devicePath.c_str())));
    }
    // A PNG signature and header chunk declaring the given size, and nothing after it.
    static std::string pngHeader(uint32_t width, uint32_t height)
    {
        std::string bytes("\x89PNG\r\n\x1a\n", 8);
        auto be32 = [&](uint32_t value) {
            for (int shift = 24; shift >= 0; shift -= 8)
                bytes.push_back(char(value >> shift));
        };
        be32(13);
        bytes += "IHDR";
        be32(width);
        be32(height);
        bytes += std::string("\x08\x06\x00\x00\x00", 5);
        be32(0); // CRC, never reached
        return bytes;
    }
};

TEST_F(ImageTest, APNGFileIsReadBackAtScaleOneWithItsSizeInPoints)
{
    writePNG("/Library/PreferenceBundles/Test.bundle/Icon.png", 30, 20, 0, 0, 1);
    auto image = load("/Library/PreferenceBundles/Test.bundle/Icon.png");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(send<CGSize>(image, sel("size")), CGSizeMake(30, 20));
    EXPECT_EQ(send<double>(image, sel("scale")), 1.0);
    EXPECT_EQ(UIImage::from(image)->pixelAt(5, 5), (UIImage::RGBA { 0, 0, 255, 255 }));
    EXPECT_EQ(UIImage::from(image)->pixelAt(30, 0), UIImage::RGBA {}) << "outside the bitmap";

    id viaClass = send<id>(UIImage::runtimeClass(), sel("imageWithContentsOfFile:"),
        text("/Library/PreferenceBundles/Test.bundle/Icon.png"));
    ASSERT_NE(viaClass, nullptr);
    EXPECT_EQ(UIImage::from(viaClass)->pixelWidth(), 30);
}

TEST_F(ImageTest, MissingUnreadableAndNonPNGFilesGiveNil)
{
    EXPECT_EQ(load("/Library/nothing-here.png"), nullptr);
    writeBytes("/tmp/garbage.png", "this is not an image at all, just some text");
    EXPECT_EQ(load("/tmp/garbage.png"), nullptr);
    writeBytes("/tmp/empty.png", "");
    EXPECT_EQ(load("/tmp/empty.png"), nullptr);
    writeBytes("/tmp/truncated.png", pngHeader(10, 10));
    EXPECT_EQ(load("/tmp/truncated.png"), nullptr) << "a sound header with no image data";
    std::filesystem::create_directories(hostPath("/tmp/folder.png/x"));
    EXPECT_EQ(load("/tmp/folder.png"), nullptr);
    ASSERT_EQ(mkfifo(hostPath("/tmp/fifo.png").c_str(), 0600), 0);
    EXPECT_EQ(load("/tmp/fifo.png"), nullptr) << "a FIFO is refused without blocking";

    id allocated = send<id>(UIImage::runtimeClass(), sel("alloc"));
    EXPECT_EQ(send<id>(allocated, sel("initWithContentsOfFile:"), nullptr), nullptr) << "and the receiver is released";
    id nothing = nullptr;
    EXPECT_EQ(send<CGSize>(nothing, sel("size")), CGSize {}) << "nil's size is zero";
}

TEST_F(ImageTest, AHeaderClaimingAHugeBitmapIsRefusedBeforeDecoding)
{
    writeBytes("/tmp/huge.png", pngHeader(100000, 100000));
    EXPECT_EQ(load("/tmp/huge.png"), nullptr);
    writeBytes("/tmp/wide.png", pngHeader(8193, 1));
    EXPECT_EQ(load("/tmp/wide.png"), nullptr) << "one side over 8192";
    writeBytes("/tmp/zero.png", pngHeader(0, 10));
    EXPECT_EQ(load("/tmp/zero.png"), nullptr);
}

TEST_F(ImageTest, ARoundedClipAtScaleTwoLeavesTheCornersTransparent)
{
    auto fill = solidImage(CGSizeMake(60, 60), 1, rgb(1, 0, 0));
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(120, 120), false, 2);
    id path = send<id>(
        UIBezierPath::runtimeClass(), sel("bezierPathWithRoundedRect:cornerRadius:"), CGRectMake(0, 0, 120, 120), 27.0);
    send(path, sel("addClip"));
    send(fill, sel("drawInRect:"), CGRectMake(0, 0, 120, 120));
    id roundedImage = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();

    ASSERT_NE(roundedImage, nullptr);
    EXPECT_EQ(send<CGSize>(roundedImage, sel("size")), CGSizeMake(120, 120));
    EXPECT_EQ(send<double>(roundedImage, sel("scale")), 2.0);
    UIImage* rounded = UIImage::from(roundedImage);
    EXPECT_EQ(rounded->pixelWidth(), 240);
    EXPECT_EQ(rounded->pixelAt(0, 0).alpha, 0) << "corner";
    EXPECT_EQ(rounded->pixelAt(239, 239).alpha, 0) << "corner";
    EXPECT_EQ(rounded->pixelAt(120, 120), (UIImage::RGBA { 255, 0, 0, 255 })) << "centre";
    EXPECT_EQ(rounded->pixelAt(120, 0).alpha, 255) << "edge middle is inside";
    EXPECT_EQ(rounded->pixelAt(14, 14).alpha, 0) << "inside the corner square, outside the 54-pixel arc";
    EXPECT_EQ(rounded->pixelAt(20, 20).alpha, 255) << "inside the arc";
}

TEST_F(ImageTest, TheCornerRadiusIsClampedToHalfTheShorterSide)
{
    id path = send<id>(
        UIBezierPath::runtimeClass(), sel("bezierPathWithRoundedRect:cornerRadius:"), CGRectMake(0, 0, 100, 40), 500.0);
    EXPECT_EQ(UIBezierPath::from(path)->cornerRadius(), 20);
    path = UIBezierPath::bezierPathWithRoundedRect(CGRectMake(0, 0, 100, 40), -3);
    EXPECT_EQ(UIBezierPath::from(path)->cornerRadius(), 0);
}

TEST_F(ImageTest, DrawInRectStretchesTheImageToTheRectangle)
{
    auto small = solidImage(CGSizeMake(10, 10), 1, rgb(0, 1, 0));
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(40, 40), false, 1);
    send(small, sel("drawInRect:"), CGRectMake(10, 10, 30, 30));
    UIImage* result = UIImage::from(UIGraphicsGetImageFromCurrentImageContext());
    UIGraphicsEndImageContext();
    EXPECT_EQ(result->pixelAt(5, 5).alpha, 0);
    EXPECT_EQ(result->pixelAt(10, 10), (UIImage::RGBA { 0, 255, 0, 255 }));
    EXPECT_EQ(result->pixelAt(39, 39), (UIImage::RGBA { 0, 255, 0, 255 })) << "solid to the far edge";
}

TEST_F(ImageTest, ContextPixelSizeIsTheSizeTimesTheScaleRoundedUp)
{
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(10.2, 5), true, 3);
    id imageObject = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    UIImage* image = UIImage::from(imageObject);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->pixelWidth(), 31);
    EXPECT_EQ(image->pixelHeight(), 15);
    EXPECT_EQ(send<CGSize>(imageObject, sel("size")), CGSizeMake(10.2, 5)) << "the size asked for, in points";
    EXPECT_EQ(image->pixelAt(0, 0), (UIImage::RGBA { 0, 0, 0, 255 })) << "an opaque context starts black";
}

TEST_F(ImageTest, ScaleZeroIsTheMainScreensScale)
{
    UIScreen::configureMainScreen(414, 896, 3);
    id screen = send<id>(UIScreen::runtimeClass(), sel("mainScreen"));
    EXPECT_EQ(send<CGRect>(screen, sel("bounds")), CGRectMake(0, 0, 414, 896));
    EXPECT_EQ(send<double>(screen, sel("scale")), 3.0);
    EXPECT_EQ(send<id>(UIScreen::runtimeClass(), sel("mainScreen")), screen) << "one main screen";

    auto image = solidImage(CGSizeMake(10, 10), 0, rgb(0, 0, 0));
    EXPECT_EQ(send<double>(image, sel("scale")), 3.0);
    EXPECT_EQ(UIImage::from(image)->pixelWidth(), 30);
    EXPECT_THROW(UIScreen::configureMainScreen(0, 10, 2), std::logic_error);
    EXPECT_THROW(UIScreen::configureMainScreen(10, 10, std::nan("")), std::logic_error);
}

TEST_F(ImageTest, TheDefaultScreenIs375By667AtScaleTwo)
{
    id screen = send<id>(UIScreen::runtimeClass(), sel("mainScreen"));
    EXPECT_EQ(send<CGRect>(screen, sel("bounds")), CGRectMake(0, 0, 375, 667));
    EXPECT_EQ(send<double>(screen, sel("scale")), 2.0);
}

TEST_F(ImageTest, UnbalancedContextCallsDoNotCrash)
{
    UIGraphicsEndImageContext();
    EXPECT_EQ(UIGraphicsGetImageFromCurrentImageContext(), nullptr);
    EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr);
    UIRectFill(CGRectMake(0, 0, 1, 1));
    send(solidImage(CGSizeMake(1, 1), 1, rgb(1, 1, 1)), sel("drawInRect:"), CGRectMake(0, 0, 1, 1));
    send(UIBezierPath::bezierPathWithRect(CGRectMake(0, 0, 1, 1)), sel("addClip"));
    send(UIBezierPath::bezierPathWithRect(CGRectMake(0, 0, 1, 1)), sel("fill"));
    UIGraphicsEndImageContext();
}

TEST_F(ImageTest, ContextsNestAndABadSizeStillPairsBeginWithEnd)
{
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(4, 4), false, 1);
    cairo_t* outer = UIGraphicsGetCurrentContext();
    ASSERT_NE(outer, nullptr);

    UIGraphicsBeginImageContextWithOptions(CGSizeMake(2, 2), false, 1);
    EXPECT_NE(UIGraphicsGetCurrentContext(), outer);
    UIGraphicsEndImageContext();
    EXPECT_EQ(UIGraphicsGetCurrentContext(), outer);

    for (CGSize bad : { CGSizeMake(-1, 5), CGSizeMake(std::nan(""), 1), CGSizeMake(1e9, 1e9) }) {
        UIGraphicsBeginImageContextWithOptions(bad, false, 1);
        EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr);
        EXPECT_EQ(UIGraphicsGetImageFromCurrentImageContext(), nullptr);
        UIGraphicsEndImageContext();
        EXPECT_EQ(UIGraphicsGetCurrentContext(), outer) << "the empty context took one End";
    }
    UIGraphicsEndImageContext();
    EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr);
}

} // namespace
} // namespace UIKitTesting
