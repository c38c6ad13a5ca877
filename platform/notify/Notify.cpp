#include "platform/notify/Notify.h"

#include "platform/notify/NotifyConnection.h"

namespace Platform {

void addNotifyObserver(std::string_view name, NotifyObserver observer)
{
    NotifyConnection::shared().addObserver(name, std::move(observer));
}

void addNotifyMonitor(NotifyObserver monitor) { NotifyConnection::shared().addMonitor(std::move(monitor)); }

bool postNotification(std::string_view name) { return NotifyConnection::shared().post(name); }

void drainNotifyDeliveries() { NotifyConnection::shared().drainDeliveries(); }

void resetNotifyForTesting() { NotifyConnection::shared().reset(); }

} // namespace Platform
