#include "platform/uikit/UIApplication.h"

#include "platform/foundation/FoundationValue.h"
#include "platform/trace/Timeline.h"
#include "runtime/CxxClass.h"

namespace UIKit {

namespace {

// A block as the blocks ABI lays it out; a completion handler `void (^)(BOOL success)` is
// called through its invoke function with the block itself first.
struct BlockLiteral {
    void* isa;
    int flags;
    int reserved;
    void (*invoke)(BlockLiteral*, BOOL);
    void* descriptor;
};

} // namespace

Class UIApplication::runtimeClass() { return ObjC::CxxClass<UIApplication>::runtimeClass(); }

id UIApplication::sharedApplication()
{
    // Made once, never released, as the app object lives as long as the app.
    static id const shared = ObjC::allocInit(runtimeClass()).leak();
    return shared;
}

UIApplication& UIApplication::shared() { return *ObjC::CxxClass<UIApplication>::state(sharedApplication()); }

bool UIApplication::openURL(id url)
{
    static SEL const absoluteString = ObjC::sel("absoluteString");
    auto text = Platform::stringValue(ObjC::send<id>(url, absoluteString));
    if (!text || text->empty())
        return false;
    {
        std::lock_guard guard(m_lock);
        m_openedURLs.push_back(*text);
    }
    Platform::timeline("open-url " + *text);
    return true;
}

void UIApplication::openURLOptionsCompletionHandler(id url, id, id completion)
{
    static SEL const open = ObjC::sel("openURL:");
    bool opened = ObjC::send<bool>(ObjC::selfOf(this), open, url);
    if (auto* block = reinterpret_cast<BlockLiteral*>(completion); block && block->invoke)
        block->invoke(block, opened);
}

std::vector<std::string> UIApplication::openedURLs() const
{
    std::lock_guard guard(m_lock);
    return m_openedURLs;
}

} // namespace UIKit
