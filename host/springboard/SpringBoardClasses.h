// SpringBoard's own classes, real classes of the runtime as the engine finds them by name:
// the application, the lock-screen manager, the biometric resource, the cover-sheet window,
// the quick-actions and notification list controllers (whose names depend on the iOS
// release), the notification list's model objects, the audio session, and the completion
// block an unlock attempt is handed. Each instance carries one of the C++ objects below.
// Every call among them that a hook may replace goes through message dispatch.
#pragma once

#include "host/springboard/HostState.h"
#include "platform/foundation/CoreGraphics.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace SpringBoardHost {

struct ClassNames {
    const char* quickActionsController;
    const char* notificationListController;
};
// iOS 13.0 and later use the cover-sheet names; earlier releases the dashboard ones.
ClassNames classNamesFor(int iosMajor);

// Registers every class for this profile in the runtime. A process has one profile: the
// first call registers, later ones change nothing.
void registerSpringBoardClasses(const HostProfile&);

class SpringBoardApplication {
public:
    void applicationDidFinishLaunching(id application);
};

class SBLockScreenManager {
public:
    // The one manager, kept by the host state.
    static id sharedInstance();
    bool isUILocked() const { return HostState::shared().uiLocked; }
    // Unlocks the device when the passcode is right, or when the attempt is biometric and
    // the biometric resource holds an authentication; dismisses the lock screen only when
    // asked to, calls the completion, and answers what the scenario arranged (YES by
    // default), or NO for a biometric attempt without an authentication. An attempt answered
    // NO changes nothing.
    bool attemptUnlock(id passcode, bool mesa, bool finishUIUnlock, id completion);
};

class SBUIBiometricResource {
public:
    void notifyObserversOfEvent(int64_t event);
    void setAuthenticated(bool authenticated);
    void noteScreenDidTurnOff();
    // The resource starts a new match once the screen is on again.
    void noteScreenWillTurnOn();
    // A match with the outcome the scenario queued (none queued: no face, nothing reported).
    void startMatch();
};

class SBCoverSheetWindow {
public:
    id hitTest(CGPoint, id event);
};

class QuickActionsViewController {
public:
    void flashlightLevelDidChange(int64_t level);
    void viewWillAppear(bool animated);
};

class NotificationRequest {
public:
    // A new request (NCNotificationRequest) of that section; nil identifier for none.
    static ObjC::RetainPtr create(const std::optional<std::string>& sectionIdentifier);
    id sectionIdentifier() const { return m_sectionIdentifier.get(); }

private:
    ObjC::RetainPtr m_sectionIdentifier;
};

class NotificationPriorityList {
public:
    uint64_t count() const { return m_requests.size(); }
    id notificationRequestAtIndex(uint64_t index) const;

    std::vector<ObjC::RetainPtr> m_requests;
};

class NotificationSectionList {
public:
    // An NSArray of fresh requests.
    id allNotificationRequests() const;
};

class NotificationMasterList {
public:
    ObjC::RetainPtr incomingSectionList() const;
};

// Its master list is the instance variable `_masterList`, which it owns.
class NotificationStructuredListViewController {
public:
    ~NotificationStructuredListViewController();
};

// On the structured route its list is the instance variable `_structuredListViewController`,
// which it owns; on the priority route it answers notificationPriorityList.
class NotificationListController {
public:
    ~NotificationListController();
    id init();
    ObjC::RetainPtr notificationPriorityList() const;

private:
    int m_identifier { 0 };
};

class AVAudioSession {
public:
    static id sharedInstance();
    bool isOtherAudioPlaying() const { return HostState::shared().otherAudioPlaying; }
};

// What an unlock attempt calls when it is done: a block, here work handed in from C++.
class CompletionBlock {
public:
    // A new block object running the work (none: nothing) each time it is invoked.
    static ObjC::RetainPtr create(std::function<void()> = {});
    void invoke() const
    {
        if (m_work)
            m_work();
    }

private:
    std::function<void()> m_work;
};

// All waiting notifications as fresh request objects.
std::vector<ObjC::RetainPtr> waitingNotificationRequests();

// Stores into an object-typed instance variable the object owns: the new value retained,
// the old one released. Does nothing when the object has no such variable.
void setOwnedObjectIvar(id object, const char* name, id value);

} // namespace SpringBoardHost
