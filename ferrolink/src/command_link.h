// What the command, identity, image and firmware operations share: a
// connection object of their own for one call, and reading a sender's reply.
#pragma once

#include <cstdint>
#include <string>

#include "cmd_send.h"
#include "ferrolink/record.h"

namespace ferrolink_ops {

// A per-call connection: made from a record (or a COM port), opened by Open,
// closed (after an optional pause) and deleted when it goes out of scope.
class PerCallLink {
  public:
    explicit PerCallLink(const _QVDeviceInfo* record);
    PerCallLink(uint16_t port, uint32_t baudRate);
    ~PerCallLink();
    PerCallLink(const PerCallLink&) = delete;
    PerCallLink& operator=(const PerCallLink&) = delete;

    bool Made() const { return connection_ != nullptr; }
    bool Open();
    // Closes and destroys the stream, after pauseMs when it is open.
    void Close(int pauseMs);
    __STRUCT_DEVICE_ONLINE* Get() const { return connection_; }

  private:
    __STRUCT_DEVICE_ONLINE* connection_ = nullptr;
};

// The reply payload: from byte 7 up to the first NUL (empty when shorter).
std::string ReplyPayload(const CCmdSend& sender);
// The whole reply from byte 0 up to the first NUL.
std::string ReplyText(const CCmdSend& sender);
// ACK three bytes before the reply's end.
bool ReplyAcknowledged(const CCmdSend& sender);

}  // namespace ferrolink_ops
