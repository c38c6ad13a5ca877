// SpringBoard's own classes, as the engine finds them by name: the
// application, the lock-screen manager, the biometric resource, the cover-sheet
// window, the quick-actions and notification list controllers (whose names
// depend on the iOS release), the notification list's model objects, and the
// audio session. Every call among them that a hook may replace goes through
// message dispatch.
#pragma once

#include "host/springboard/HostState.h"
#include "platform/foundation/CoreGraphics.h"

namespace SpringBoardHost {

using Runtime::Object;
using Runtime::RefPtr;

struct ClassNames {
    const char* quickActionsController;
    const char* notificationListController;
};
// iOS 13.0 and later use the cover-sheet names; earlier releases the dashboard ones.
ClassNames classNamesFor(int iosMajor);

// Registers every class for this profile in the runtime.
void registerSpringBoardClasses(const HostProfile&);

class SpringBoardApplication : public Runtime::NSObject {
public:
    void applicationDidFinishLaunching(Object* application);
};

class SBLockScreenManager : public Runtime::NSObject {
public:
    static RefPtr<Object> sharedInstance();
    bool isUILocked() const { return HostState::shared().uiLocked; }
    // Unlocks the device when the passcode is right, or when the attempt is biometric
    // and the biometric resource holds an authentication; dismisses the lock screen
    // only when asked to, calls the completion, and answers what the scenario arranged
    // (YES by default), or NO for a biometric attempt without an authentication. An
    // attempt answered NO changes nothing.
    bool attemptUnlock(Object* passcode, bool mesa, bool finishUIUnlock, Object* completion);
};

class SBUIBiometricResource : public Runtime::NSObject {
public:
    void notifyObserversOfEvent(int64_t event);
    void setAuthenticated(bool authenticated);
    void noteScreenDidTurnOff();
    // The resource starts a new match once the screen is on again.
    void noteScreenWillTurnOn();
    // A match with the outcome the scenario queued (none queued: no face, nothing reported).
    void startMatch();
};

class SBCoverSheetWindow : public Runtime::NSObject {
public:
    RefPtr<Object> hitTest(CGPoint, Object* event);
};

class QuickActionsViewController : public Runtime::NSObject {
public:
    void flashlightLevelDidChange(int64_t level);
    void viewWillAppear(bool animated);
};

class NotificationRequest : public Runtime::NSObject {
public:
    static Runtime::Ref<NotificationRequest> create(const std::optional<std::string>& sectionIdentifier);
    RefPtr<Object> sectionIdentifier() const { return m_sectionIdentifier; }

private:
    RefPtr<Object> m_sectionIdentifier;
};

class NotificationPriorityList : public Runtime::NSObject {
public:
    uint64_t count() const { return m_requests.size(); }
    RefPtr<Object> notificationRequestAtIndex(uint64_t index) const;

    std::vector<RefPtr<Object>> m_requests;
};

class NotificationSectionList : public Runtime::NSObject {
public:
    RefPtr<Object> allNotificationRequests() const;
};

class NotificationMasterList : public Runtime::NSObject {
public:
    RefPtr<Object> incomingSectionList() const;
};

class NotificationStructuredListViewController : public Runtime::NSObject {
public:
    RefPtr<Object> m_masterList;
};

class NotificationListController : public Runtime::NSObject {
public:
    ~NotificationListController() override;
    RefPtr<Object> init();
    RefPtr<Object> notificationPriorityList() const;

    int m_identifier { 0 };
    RefPtr<Object> m_structuredListViewController;
};

class AVAudioSession : public Runtime::NSObject {
public:
    static RefPtr<Object> sharedInstance();
    bool isOtherAudioPlaying() const { return HostState::shared().otherAudioPlaying; }
};

// All waiting notifications as fresh request objects.
std::vector<RefPtr<Object>> waitingNotificationRequests();

} // namespace SpringBoardHost
