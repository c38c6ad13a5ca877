// Shared set-up for the UIKit tests: a clean runtime registry, a throw-away device root, and
// small helpers to make views and images the way app code does.
#pragma once

#include "platform/fs/DeviceRoot.h"
#include "platform/uikit/UIKit.h"
#include "runtime/RuntimeTesting.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

// Readable geometry in failure messages.
inline void PrintTo(const CGRect& rect, std::ostream* stream)
{
    *stream << "(" << rect.origin.x << ", " << rect.origin.y << ", " << rect.size.width << ", " << rect.size.height
            << ")";
}
inline void PrintTo(const CGSize& size, std::ostream* stream) { *stream << size.width << " x " << size.height; }

namespace UIKitTesting {

using namespace Runtime;
using namespace UIKit;

class UIKitTest : public testing::Test {
protected:
    void SetUp() override
    {
        resetRegistryForTesting();
        char pattern[] = "/tmp/uikit-tests-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_root = pattern;
        Platform::setDeviceRoot(m_root.string());
        UIScreen::configureMainScreen(375, 667, 2);
    }
    void TearDown() override
    {
        Platform::clearDeviceRoot();
        std::filesystem::remove_all(m_root);
        UIScreen::configureMainScreen(375, 667, 2);
        while (UIGraphicsGetCurrentContext())
            UIGraphicsEndImageContext();
    }

    // The host path of a device path, with its folder made.
    std::string hostPath(const std::string& devicePath)
    {
        std::filesystem::path path = Platform::resolve(devicePath);
        std::filesystem::create_directories(path.parent_path());
        return path.string();
    }

    std::filesystem::path m_root;
};

// [[ClassName alloc] initWithFrame:frame].
template <typename T = UIView> RefPtr<T> makeView(const char* className, CGRect frame)
{
    auto allocated = send<RefPtr<Object>>(getClass(className), "alloc");
    return send<RefPtr<T>>(allocated, "initWithFrame:", frame);
}

// An image of one colour made in an image context.
inline RefPtr<UIImage> solidImage(CGSize size, CGFloat scale, RefPtr<UIColor> color)
{
    UIGraphicsBeginImageContextWithOptions(size, false, scale);
    send(color, "setFill");
    UIRectFill({ {}, size });
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

inline RefPtr<UIColor> rgb(double red, double green, double blue)
{
    return send<RefPtr<UIColor>>(UIColor::runtimeClass(), "colorWithRed:green:blue:alpha:", red, green, blue, 1.0);
}

inline bool isDark(UIImage::RGBA pixel)
{
    return pixel.alpha > 200 && pixel.red < 90 && pixel.green < 90 && pixel.blue < 90;
}

} // namespace UIKitTesting
