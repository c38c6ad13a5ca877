// Shared set-up for the UIKit tests: a throw-away device root, and small helpers to make views
// and images the way app code does. The UIKit classes are registered when the library loads.
#pragma once

#include "platform/fs/DeviceRoot.h"
#include "platform/uikit/UIKit.h"
#include "runtime/CxxClass.h"

#include <cmath>
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

using namespace ObjC;
using namespace UIKit;

class UIKitTest : public testing::Test {
protected:
    void SetUp() override
    {
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

// [[ClassName alloc] initWithFrame:frame], owned.
inline RetainPtr makeView(const char* className, CGRect frame)
{
    return adopt(send<id>(send<id>(getClass(className), sel("alloc")), sel("initWithFrame:"), frame));
}

// The C++ state of an instance of a CxxClass.
template<typename T> T& stateOf(id object) { return *CxxClass<T>::state(object); }

// An image of one colour made in an image context.
inline RetainPtr solidImage(CGSize size, CGFloat scale, id color)
{
    UIGraphicsBeginImageContextWithOptions(size, false, scale);
    send(color, sel("setFill"));
    UIRectFill({ {}, size });
    RetainPtr image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

inline id rgb(double red, double green, double blue)
{
    return send<id>(UIColor::runtimeClass(), sel("colorWithRed:green:blue:alpha:"), red, green, blue, 1.0);
}

inline bool isDark(UIImage::RGBA pixel)
{
    return pixel.alpha > 200 && pixel.red < 90 && pixel.green < 90 && pixel.blue < 90;
}

// An NSString of the text (autoreleased).
inline id text(const char* utf8) { return ObjC::string(utf8); }

} // namespace UIKitTesting
