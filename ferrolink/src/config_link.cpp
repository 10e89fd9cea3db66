// Bounded queries on a per-call connection for the configuration operations.
#include "config_link.h"

#include <cstring>

namespace ferrolink_config {

std::string QueryPayload(const _QVDeviceInfo* record, const char* command, size_t capacity,
                         bool* acknowledged) {
    if (acknowledged != nullptr)
        *acknowledged = false;
    CallConnection connection(record);
    if (!connection.Made() || !connection.Open())
        return {};
    CCmdSend sender;
    int count = 0;
    sender.SendFramed(connection.Get(), command, &count);
    std::string payload = ferrolink_ops::ReplyPayload(sender);
    if (payload.size() > capacity)
        payload.resize(capacity);
    if (acknowledged != nullptr)
        *acknowledged = ferrolink_ops::ReplyAcknowledged(sender);
    connection.Close(100);
    return payload;
}

}  // namespace ferrolink_config
