#include "host/springboard/SpringBoardClasses.h"

#include "platform/dispatch/MainQueue.h"
#include "platform/foundation/FoundationValue.h"
#include "runtime/CxxClass.h"

using namespace ObjC;

namespace SpringBoardHost {

namespace {

SEL const s_attemptUnlock = sel("_attemptUnlockWithPasscode:mesa:finishUIUnlock:completion:");
SEL const s_notifyObserversOfEvent = sel("_notifyObserversOfEvent:");
SEL const s_invoke = sel("invoke");

// Looked up on first use and kept: the classes made on every unlock decision's way.
const ClassReference s_requestClass("NCNotificationRequest");
const ClassReference s_mutableArrayClass("NSMutableArray");
const ClassReference s_sectionListClass("NCNotificationStructuredSectionList");
const ClassReference s_priorityListClass("NCNotificationPriorityList");
const ClassReference s_completionBlockClass("SBCompletionBlock");

constexpr int64_t failedMatchEvent = 10;

id makeShared(RetainPtr& slot, const char* className)
{
    if (!slot)
        slot = allocInit(getClass(className));
    return slot.get();
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
    if (getClass("SpringBoard"))
        return;
    ClassNames names = classNamesFor(profile.iosVersion.major);
    Class object = getClass("NSObject");

    CxxClass<SpringBoardApplication>::define("SpringBoard", object)
        .method<&SpringBoardApplication::applicationDidFinishLaunching>("applicationDidFinishLaunching:")
        .registerClass();
    CxxClass<SBLockScreenManager>::define("SBLockScreenManager", object)
        .classMethod<&SBLockScreenManager::sharedInstance>("sharedInstance")
        .method<&SBLockScreenManager::isUILocked>("isUILocked")
        .method<&SBLockScreenManager::attemptUnlock>("_attemptUnlockWithPasscode:mesa:finishUIUnlock:completion:")
        .registerClass();
    CxxClass<SBUIBiometricResource>::define("SBUIBiometricResource", object)
        .method<&SBUIBiometricResource::notifyObserversOfEvent>("_notifyObserversOfEvent:")
        .method<&SBUIBiometricResource::setAuthenticated>("_setAuthenticated:")
        .method<&SBUIBiometricResource::noteScreenDidTurnOff>("noteScreenDidTurnOff")
        .method<&SBUIBiometricResource::noteScreenWillTurnOn>("noteScreenWillTurnOn")
        .registerClass();
    CxxClass<SBCoverSheetWindow>::define("SBCoverSheetWindow", object)
        .method<&SBCoverSheetWindow::hitTest>("hitTest:withEvent:")
        .registerClass();
    CxxClass<QuickActionsViewController>::define(names.quickActionsController, object)
        .method<&QuickActionsViewController::flashlightLevelDidChange>("flashlightLevelDidChange:")
        .method<&QuickActionsViewController::viewWillAppear>("viewWillAppear:")
        .registerClass();

    CxxClass<NotificationRequest>::define("NCNotificationRequest", object)
        .method<&NotificationRequest::sectionIdentifier>("sectionIdentifier")
        .registerClass();
    CxxClass<NotificationPriorityList>::define("NCNotificationPriorityList", object)
        .method<&NotificationPriorityList::count>("count")
        .method<&NotificationPriorityList::notificationRequestAtIndex>("notificationRequestAtIndex:")
        .registerClass();
    CxxClass<NotificationSectionList>::define("NCNotificationStructuredSectionList", object)
        .method<&NotificationSectionList::allNotificationRequests>("allNotificationRequests")
        .registerClass();
    CxxClass<NotificationMasterList>::define("NCNotificationMasterList", object)
        .method<&NotificationMasterList::incomingSectionList>("incomingSectionList")
        .registerClass();
    CxxClass<NotificationStructuredListViewController>::define("NCNotificationStructuredListViewController", object)
        .ivar<id>("_masterList")
        .registerClass();

    auto listController = CxxClass<NotificationListController>::define(names.notificationListController, object);
    listController.method<&NotificationListController::init>("init");
    // A release offers one way to its waiting notifications, or (for tests) none.
    if (profile.notificationRoute == NotificationRoute::Priority)
        listController.method<&NotificationListController::notificationPriorityList>("notificationPriorityList");
    if (profile.notificationRoute == NotificationRoute::Structured)
        listController.ivar<id>("_structuredListViewController");
    listController.registerClass();

    CxxClass<AVAudioSession>::define("AVAudioSession", object)
        .classMethod<&AVAudioSession::sharedInstance>("sharedInstance")
        .method<&AVAudioSession::isOtherAudioPlaying>("isOtherAudioPlaying")
        .registerClass();
    CxxClass<CompletionBlock>::define("SBCompletionBlock", object)
        .method<&CompletionBlock::invoke>("invoke")
        .registerClass();
}

void setOwnedObjectIvar(id object, const char* name, id value)
{
    id* slot = ivarAddress<id>(object, instanceVariable(classOf(object), name));
    if (!slot)
        return;
    retain(value);
    id previous = *slot;
    *slot = value;
    release(previous);
}

void SpringBoardApplication::applicationDidFinishLaunching(id)
{
    HostState::shared().launched = true;
    hostEvent(Driver::Notes::launchFinished);
}

id SBLockScreenManager::sharedInstance()
{
    return makeShared(HostState::shared().lockScreenManager, "SBLockScreenManager");
}

bool SBLockScreenManager::attemptUnlock(id passcode, bool mesa, bool finishUIUnlock, id completion)
{
    auto& state = HostState::shared();
    // A biometric attempt without an authentication behind it (the device locked again since
    // the match) is refused, as the platform refuses it.
    bool result = state.attemptResult && (!mesa || state.biometricAuthenticated);
    auto passcodeText = state.passcodeText(passcode);
    hostEvent(Driver::AttemptCall { passcodeText, mesa, finishUIUnlock, result });
    if (result && (mesa || passcodeText == std::string(HostState::passcode))) {
        state.setDeviceLocked(false);
        if (finishUIUnlock)
            state.setUILocked(false);
    }
    send(completion, s_invoke);
    return result;
}

void SBUIBiometricResource::notifyObserversOfEvent(int64_t event)
{
    hostEvent(Driver::Notes::biometricEvent.line(event));
}

void SBUIBiometricResource::setAuthenticated(bool authenticated)
{
    HostState::shared().biometricAuthenticated = authenticated;
    hostEvent(Driver::BiometricCall { authenticated ? Driver::BiometricCall::Kind::SetAuthenticatedYes
                                                    : Driver::BiometricCall::Kind::SetAuthenticatedNo });
}

void SBUIBiometricResource::noteScreenDidTurnOff()
{
    hostEvent(Driver::BiometricCall { Driver::BiometricCall::Kind::ScreenOff });
}

void SBUIBiometricResource::noteScreenWillTurnOn()
{
    hostEvent(Driver::BiometricCall { Driver::BiometricCall::Kind::ScreenOn });
    Platform::mainQueue().async([resource = RetainPtr(selfOf(this))] {
        AutoreleasePool pool;
        CxxClass<SBUIBiometricResource>::state(resource)->startMatch();
    });
}

void SBUIBiometricResource::startMatch()
{
    auto& state = HostState::shared();
    if (state.queuedMatches.empty()) {
        hostEvent(Driver::Notes::biometricMatch.line(MatchOutcome::NoFace));
        return;
    }
    MatchOutcome outcome = state.queuedMatches.front();
    state.queuedMatches.pop_front();
    hostEvent(Driver::Notes::biometricMatch.line(outcome));
    if (outcome == MatchOutcome::Match) {
        state.biometricAuthenticated = true;
        send<bool>(
            SBLockScreenManager::sharedInstance(), s_attemptUnlock, nullptr, true, false, CompletionBlock::create());
    } else
        send(selfOf(this), s_notifyObserversOfEvent, failedMatchEvent);
}

id SBCoverSheetWindow::hitTest(CGPoint, id)
{
    hostEvent(Driver::Notes::hitTest);
    return selfOf(this);
}

void QuickActionsViewController::flashlightLevelDidChange(int64_t level)
{
    HostState::shared().flashlightLevel = level;
    hostEvent(Driver::Notes::flashlight.line(level));
}

void QuickActionsViewController::viewWillAppear(bool) { hostEvent("quick-actions will-appear"); }

RetainPtr NotificationRequest::create(const std::optional<std::string>& sectionIdentifier)
{
    RetainPtr request = allocInit(s_requestClass.get());
    if (sectionIdentifier)
        CxxClass<NotificationRequest>::state(request)->m_sectionIdentifier = Platform::makeString(*sectionIdentifier);
    return request;
}

id NotificationPriorityList::notificationRequestAtIndex(uint64_t index) const
{
    return index < m_requests.size() ? m_requests[index].get() : nullptr;
}

std::vector<RetainPtr> waitingNotificationRequests()
{
    std::vector<RetainPtr> requests;
    for (auto& section : HostState::shared().notifications)
        requests.push_back(NotificationRequest::create(section));
    return requests;
}

id NotificationSectionList::allNotificationRequests() const
{
    static SEL const arrayWithCapacity = sel("arrayWithCapacity:");
    static SEL const addObject = sel("addObject:");
    auto requests = waitingNotificationRequests();
    id array = send<id>(s_mutableArrayClass.get(), arrayWithCapacity, static_cast<unsigned long>(requests.size()));
    for (auto& request : requests)
        send(array, addObject, request);
    return array;
}

RetainPtr NotificationMasterList::incomingSectionList() const { return allocInit(s_sectionListClass.get()); }

NotificationStructuredListViewController::~NotificationStructuredListViewController()
{
    setOwnedObjectIvar(selfOf(this), "_masterList", nullptr);
}

NotificationListController::~NotificationListController()
{
    setOwnedObjectIvar(selfOf(this), "_structuredListViewController", nullptr);
    if (m_identifier)
        hostEvent("notification-list freed id=" + std::to_string(m_identifier));
}

id NotificationListController::init()
{
    id self = selfOf(this);
    m_identifier = HostState::shared().nextNotificationListId++;
    if (instanceVariable(classOf(self), "_structuredListViewController")) {
        RetainPtr structured = allocInit(getClass("NCNotificationStructuredListViewController"));
        RetainPtr masterList = allocInit(getClass("NCNotificationMasterList"));
        setOwnedObjectIvar(structured, "_masterList", masterList);
        setOwnedObjectIvar(self, "_structuredListViewController", structured);
    }
    hostEvent("notification-list created id=" + std::to_string(m_identifier));
    return self;
}

RetainPtr NotificationListController::notificationPriorityList() const
{
    RetainPtr list = allocInit(s_priorityListClass.get());
    CxxClass<NotificationPriorityList>::state(list)->m_requests = waitingNotificationRequests();
    return list;
}

id AVAudioSession::sharedInstance() { return makeShared(HostState::shared().audioSession, "AVAudioSession"); }

RetainPtr CompletionBlock::create(std::function<void()> work)
{
    RetainPtr block = allocInit(s_completionBlockClass.get());
    CxxClass<CompletionBlock>::state(block)->m_work = std::move(work);
    return block;
}

} // namespace SpringBoardHost
