// The process's connection to its device's notifications: the observers, the endpoint on
// which other processes of the device reach them, and the thread that delivers.
#pragma once

#include "platform/Expected.h"
#include "platform/notify/Notify.h"
#include "platform/notify/NotifyRegistry.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace Platform {

class NotifyConnection {
public:
    static NotifyConnection& shared();

    // The process gets its endpoint on the device of the current device root with its first
    // observer or monitor; when the device root has changed since, the endpoint (and every
    // observer with it) moves to the new device.
    void addObserver(std::string_view name, NotifyObserver);
    NotifyMonitorId addMonitor(NotifyObserver);
    void removeMonitor(NotifyMonitorId);

    bool post(std::string_view name);
    void drainDeliveries();
    void reset();

private:
    struct Endpoint;
    struct ObserverTable;

    NotifyConnection();
    void addToTable(const std::function<void(ObserverTable&)>& change);
    // The process's endpoint on the device at root, or why there is none. One that other
    // processes cannot find (its registration failed) says so in its `registered`.
    Platform::Expected<std::shared_ptr<Endpoint>> openEndpoint(const std::string& root);
    void closeEndpoint(const std::shared_ptr<Endpoint>&);
    void deliveryLoop(const std::shared_ptr<Endpoint>&);
    void deliver(Endpoint&, std::string_view name);
    static bool writeRegistration(Endpoint&);
    static void removeRegistration(const Endpoint&);
    void removeRegistrationAtExit();
    void forgetInForkedChild();

    std::mutex m_lock;
    // Held while callbacks run, so that a removal can wait for one that is running.
    std::mutex m_deliveringLock;
    std::atomic<NotifyMonitorId> m_nextMonitorId { 1 };
    std::shared_ptr<const ObserverTable> m_observers;
    std::shared_ptr<Endpoint> m_endpoint;
    std::vector<std::shared_ptr<Endpoint>> m_endpointsOfParent;
    NotifyRegistry m_registry;
};

} // namespace Platform
