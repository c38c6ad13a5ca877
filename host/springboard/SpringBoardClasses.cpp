#include "host/springboard/SpringBoardClasses.h"

#include "platform/dispatch/MainQueue.h"

using namespace Runtime;

namespace SpringBoardHost {

namespace {

const Selector s_attemptUnlock = sel("_attemptUnlockWithPasscode:mesa:finishUIUnlock:completion:");

template<typename T> RefPtr<Object> makeShared(RefPtr<Object>& slot, const char* className)
{
    if (!slot)
        slot = allocInit(getClass(className));
    return slot;
}

} // namespace

ClassNames classNamesFor(int iosMajor)
{
    if (iosMajor >= 13)
        return { "CSQuickActionsViewController", "CSCombinedListViewController" };
    return { "SBDashBoardQuickActionsViewController", "NCNotificationCombinedListViewController" };
}

void registerSpringBoardClasses(const HostProfile& profile)
{
    ClassNames names = classNamesFor(profile.iosVersion.major);

    ClassBuilder<SpringBoardApplication>("SpringBoard", "NSObject")
        .method<&SpringBoardApplication::applicationDidFinishLaunching>("applicationDidFinishLaunching:");
    ClassBuilder<SBLockScreenManager>("SBLockScreenManager", "NSObject")
        .classMethod<&SBLockScreenManager::sharedInstance>("sharedInstance")
        .method<&SBLockScreenManager::isUILocked>("isUILocked")
        .method<&SBLockScreenManager::attemptUnlock>("_attemptUnlockWithPasscode:mesa:finishUIUnlock:completion:");
    ClassBuilder<SBUIBiometricResource>("SBUIBiometricResource", "NSObject")
        .method<&SBUIBiometricResource::notifyObserversOfEvent>("_notifyObserversOfEvent:")
        .method<&SBUIBiometricResource::setAuthenticated>("_setAuthenticated:")
        .method<&SBUIBiometricResource::noteScreenDidTurnOff>("noteScreenDidTurnOff")
        .method<&SBUIBiometricResource::noteScreenWillTurnOn>("noteScreenWillTurnOn");
    ClassBuilder<SBCoverSheetWindow>("SBCoverSheetWindow", "NSObject")
        .method<&SBCoverSheetWindow::hitTest>("hitTest:withEvent:");
    ClassBuilder<QuickActionsViewController>(names.quickActionsController, "NSObject")
        .method<&QuickActionsViewController::flashlightLevelDidChange>("flashlightLevelDidChange:")
        .method<&QuickActionsViewController::viewWillAppear>("viewWillAppear:");

    ClassBuilder<NotificationRequest>("NCNotificationRequest", "NSObject")
        .method<&NotificationRequest::sectionIdentifier>("sectionIdentifier");
    ClassBuilder<NotificationPriorityList>("NCNotificationPriorityList", "NSObject")
        .method<&NotificationPriorityList::count>("count")
        .method<&NotificationPriorityList::notificationRequestAtIndex>("notificationRequestAtIndex:");
    ClassBuilder<NotificationSectionList>("NCNotificationStructuredSectionList", "NSObject")
        .method<&NotificationSectionList::allNotificationRequests>("allNotificationRequests");
    ClassBuilder<NotificationMasterList>("NCNotificationMasterList", "NSObject")
        .method<&NotificationMasterList::incomingSectionList>("incomingSectionList");
    ClassBuilder<NotificationStructuredListViewController>("NCNotificationStructuredListViewController", "NSObject")
        .ivar<&NotificationStructuredListViewController::m_masterList>("_masterList");

    ClassBuilder<NotificationListController> listController(names.notificationListController, "NSObject");
    listController.method<&NotificationListController::init>("init");
    // A release offers one way to its waiting notifications, or (for tests) none.
    if (profile.notificationRoute == NotificationRoute::Priority)
        listController.method<&NotificationListController::notificationPriorityList>("notificationPriorityList");
    if (profile.notificationRoute == NotificationRoute::Structured)
        listController.ivar<&NotificationListController::m_structuredListViewController>("_structuredListViewController");

    ClassBuilder<AVAudioSession>("AVAudioSession", "NSObject").classMethod<&AVAudioSession::sharedInstance>("sharedInstance")
        .method<&AVAudioSession::isOtherAudioPlaying>("isOtherAudioPlaying");
}

void SpringBoardApplication::applicationDidFinishLaunching(Object*)
{
    HostState::shared().launched = true;
    hostEvent("launch finished");
}

RefPtr<Object> SBLockScreenManager::sharedInstance()
{
    return makeShared<SBLockScreenManager>(HostState::shared().lockScreenManager, "SBLockScreenManager");
}

bool SBLockScreenManager::attemptUnlock(Object* passcode, bool mesa, bool finishUIUnlock, Object* completion)
{
    auto& state = HostState::shared();
    // A biometric attempt without an authentication behind it (the device locked again
    // since the match) is refused, as the platform refuses it.
    bool result = state.attemptResult && (!mesa || state.biometricAuthenticated);
    hostEvent(Driver::AttemptCall { stringValue(passcode), mesa, finishUIUnlock, result });
    if (result && (mesa || stringValue(passcode) == std::string(HostState::passcode))) {
        state.setDeviceLocked(false);
        if (finishUIUnlock)
            state.setUILocked(false);
    }
    send(completion, "invoke");
    return result;
}

void SBUIBiometricResource::notifyObserversOfEvent(int64_t event) { hostEvent("biometric event=" + std::to_string(event)); }

void SBUIBiometricResource::setAuthenticated(bool authenticated)
{
    HostState::shared().biometricAuthenticated = authenticated;
    hostEvent(Driver::BiometricCall { authenticated ? Driver::BiometricCall::Kind::SetAuthenticatedYes
                                                    : Driver::BiometricCall::Kind::SetAuthenticatedNo });
}

void SBUIBiometricResource::noteScreenDidTurnOff() { hostEvent(Driver::BiometricCall { Driver::BiometricCall::Kind::ScreenOff }); }

void SBUIBiometricResource::noteScreenWillTurnOn()
{
    hostEvent(Driver::BiometricCall { Driver::BiometricCall::Kind::ScreenOn });
    Platform::mainQueue().async([resource = RefPtr<Object>(this)] {
        static_cast<SBUIBiometricResource*>(resource.get())->startMatch();
    });
}

void SBUIBiometricResource::startMatch()
{
    auto& state = HostState::shared();
    if (state.queuedMatches.empty()) {
        hostEvent("biometric match outcome=no-face");
        return;
    }
    MatchOutcome outcome = state.queuedMatches.front();
    state.queuedMatches.pop_front();
    if (outcome == MatchOutcome::Match) {
        hostEvent("biometric match outcome=match");
        state.biometricAuthenticated = true;
        send<bool>(SBLockScreenManager::sharedInstance(), s_attemptUnlock, nullptr, true, false,
            NSBlock::create(nullptr).ptr());
    } else {
        hostEvent("biometric match outcome=fail");
        send(this, "_notifyObserversOfEvent:", int64_t(10));
    }
}

RefPtr<Object> SBCoverSheetWindow::hitTest(CGPoint, Object*)
{
    hostEvent("hit-test");
    return RefPtr<Object>(this);
}

void QuickActionsViewController::flashlightLevelDidChange(int64_t level)
{
    HostState::shared().flashlightLevel = level;
    hostEvent("flashlight level=" + std::to_string(level));
}

void QuickActionsViewController::viewWillAppear(bool) { hostEvent("quick-actions will-appear"); }

Ref<NotificationRequest> NotificationRequest::create(const std::optional<std::string>& sectionIdentifier)
{
    auto request = makeInstance<NotificationRequest>(getClass("NCNotificationRequest"));
    if (sectionIdentifier)
        request->m_sectionIdentifier = NSString::create(*sectionIdentifier);
    return request;
}

RefPtr<Object> NotificationPriorityList::notificationRequestAtIndex(uint64_t index) const
{
    return index < m_requests.size() ? m_requests[index] : nullptr;
}

std::vector<RefPtr<Object>> waitingNotificationRequests()
{
    std::vector<RefPtr<Object>> requests;
    for (auto& section : HostState::shared().notifications)
        requests.push_back(NotificationRequest::create(section));
    return requests;
}

RefPtr<Object> NotificationSectionList::allNotificationRequests() const
{
    return NSArray::create(waitingNotificationRequests());
}

RefPtr<Object> NotificationMasterList::incomingSectionList() const
{
    return allocInit(getClass("NCNotificationStructuredSectionList"));
}

NotificationListController::~NotificationListController()
{
    if (m_identifier)
        hostEvent("notification-list freed id=" + std::to_string(m_identifier));
}

RefPtr<Object> NotificationListController::init()
{
    m_identifier = HostState::shared().nextNotificationListId++;
    if (classGetInstanceVariable(isa(), "_structuredListViewController")) {
        auto structured = allocInit(getClass("NCNotificationStructuredListViewController"));
        static_cast<NotificationStructuredListViewController*>(structured.get())->m_masterList
            = allocInit(getClass("NCNotificationMasterList"));
        m_structuredListViewController = structured;
    }
    hostEvent("notification-list created id=" + std::to_string(m_identifier));
    return RefPtr<Object>(this);
}

RefPtr<Object> NotificationListController::notificationPriorityList() const
{
    auto list = makeInstance<NotificationPriorityList>(getClass("NCNotificationPriorityList"));
    list->m_requests = waitingNotificationRequests();
    return RefPtr<Object>(list.ptr());
}

RefPtr<Object> AVAudioSession::sharedInstance()
{
    return makeShared<AVAudioSession>(HostState::shared().audioSession, "AVAudioSession");
}

} // namespace SpringBoardHost
