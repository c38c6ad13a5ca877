#include "platform/uikit/UIScreen.h"

#include "runtime/CxxClass.h"

#include <cmath>
#include <mutex>
#include <stdexcept>

namespace UIKit {

namespace {

struct ScreenState {
    std::mutex lock;
    CGSize size { 375, 667 };
    CGFloat scale { 2 };
    ObjC::RetainPtr mainScreen;
};

ScreenState& screenState()
{
    static auto* state = new ScreenState;
    return *state;
}

} // namespace

Class UIScreen::runtimeClass() { return ObjC::CxxClass<UIScreen>::runtimeClass(); }

id UIScreen::mainScreen()
{
    auto& state = screenState();
    std::lock_guard guard(state.lock);
    if (!state.mainScreen)
        state.mainScreen = ObjC::allocInit(runtimeClass());
    return state.mainScreen.get();
}

CGRect UIScreen::bounds() const { return mainScreenBounds(); }

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

CGRect UIScreen::mainScreenBounds()
{
    auto& state = screenState();
    std::lock_guard guard(state.lock);
    return { {}, state.size };
}

CGFloat UIScreen::mainScreenScale()
{
    auto& state = screenState();
    std::lock_guard guard(state.lock);
    return state.scale;
}

} // namespace UIKit
