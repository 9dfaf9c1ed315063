#include "state/device_events.h"

namespace qvlink {

const char* deviceEventKindName(DeviceEventKind kind) {
    switch (kind) {
        case DeviceEventKind::FirstSeen:
            return "first_seen";
        case DeviceEventKind::Restart:
            return "restart";
        case DeviceEventKind::Missed:
            return "missed";
        case DeviceEventKind::Silent:
            return "silent";
        case DeviceEventKind::Returned:
            return "returned";
        case DeviceEventKind::IpChanged:
            return "ip_changed";
    }
    return "";
}

void DeviceEventSource::publish(const DeviceEvent& event) const {
    for (const Listener& listener : m_listeners) {
        listener(event);
    }
}

}  // namespace qvlink
