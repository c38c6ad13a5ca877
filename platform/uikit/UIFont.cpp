#include "platform/uikit/UIFont.h"

#include <algorithm>

namespace UIKit {

namespace {

const Runtime::ClassReference s_fontClass("UIFont");
constexpr const char* systemFontFamily = "DejaVu Sans";

} // namespace

Runtime::Class* UIFont::runtimeClass() { return s_fontClass.get(); }

Runtime::Ref<UIFont> UIFont::create(std::string family, CGFloat pointSize, bool bold)
{
    auto font = Runtime::makeInstance<UIFont>(runtimeClass());
    font->m_family = std::move(family);
    font->m_pointSize = std::isnan(pointSize) ? 0 : std::clamp(pointSize, 0.0, maximumPointSize);
    font->m_bold = bold;
    return font;
}

Runtime::Ref<UIFont> UIFont::systemFontOfSize(double pointSize) { return create(systemFontFamily, pointSize, false); }

Runtime::Ref<UIFont> UIFont::boldSystemFontOfSize(double pointSize)
{
    return create(systemFontFamily, pointSize, true);
}

} // namespace UIKit
