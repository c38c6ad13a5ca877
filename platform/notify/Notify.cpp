#include "platform/notify/Notify.h"

#include "platform/notify/NotifyConnection.h"
#include "platform/notify/NotifyTesting.h"

namespace Platform {

void addNotifyObserver(std::string_view name, NotifyObserver observer)
{
    NotifyConnection::shared().addObserver(name, std::move(observer));
}

NotifyMonitorId addNotifyMonitor(NotifyObserver monitor) { return NotifyConnection::shared().addMonitor(std::move(monitor)); }

void removeNotifyMonitor(NotifyMonitorId id) { NotifyConnection::shared().removeMonitor(id); }

bool postNotification(std::string_view name) { return NotifyConnection::shared().post(name); }

void drainNotifyDeliveries() { NotifyConnection::shared().drainDeliveries(); }

void resetNotifyForTesting() { NotifyConnection::shared().reset(); }

} // namespace Platform
