#include "platform/uikit/UIScreen.h"

#include <cmath>
#include <mutex>
#include <stdexcept>

namespace UIKit {

namespace {

const Runtime::ClassReference s_screenClass("UIScreen");

struct ScreenState {
    std::mutex lock;
    CGSize size { 375, 667 };
    CGFloat scale { 2 };
    Runtime::RefPtr<UIScreen> mainScreen;
};

ScreenState& screenState()
{
    static auto* state = new ScreenState;
    return *state;
}

} // namespace

Runtime::Class* UIScreen::runtimeClass() { return s_screenClass.get(); }

Runtime::RefPtr<UIScreen> UIScreen::mainScreen()
{
    auto& state = screenState();
    std::lock_guard guard(state.lock);
    // A registry reset leaves the old instance with a forgotten class: make a new one.
    if (!state.mainScreen || Runtime::objectGetClass(state.mainScreen.get()) != runtimeClass())
        state.mainScreen = Runtime::makeInstance<UIScreen>(runtimeClass());
    return state.mainScreen;
}

CGRect UIScreen::bounds() const
{
    auto& state = screenState();
    std::lock_guard guard(state.lock);
    return { {}, state.size };
}

double UIScreen::scale() const { return mainScreenScale(); }

void UIScreen::configureMainScreen(CGFloat width, CGFloat height, CGFloat scale)
{
    auto valid = [](CGFloat value) { return std::isfinite(value) && value > 0; };
    if (!valid(width) || !valid(height) || !valid(scale))
        throw std::logic_error("configureMainScreen: width, height and scale must be finite and positive");
    auto& state = screenState();
    std::lock_guard guard(state.lock);
    state.size = { width, height };
    state.scale = scale;
}

CGFloat UIScreen::mainScreenScale()
{
    auto& state = screenState();
    std::lock_guard guard(state.lock);
    return state.scale;
}

} // namespace UIKit
