// Control requests: the message parser and the answers to the driver's
// control codes, byte for byte as callers expect them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "driver/ovrix_wire.h"
#include "virtual_port.h"

namespace ovrix::detail {

// One request message taken apart.
struct ControlRequest {
    uint32_t controlCode = 0;
    Target target = Target::Bus;
    bool openedForWrite = false;
    std::string portName;  // Port target: "COM7"; units above 0x7F read as '?'
    std::vector<uint8_t> input;
    uint32_t outputCapacity = 0;
};

// What the parser makes of a message: the request, or the Windows error its
// answer carries (error != 0, request left empty).
struct ParsedRequest {
    uint32_t error = 0;
    ControlRequest request;
};

// Takes a request message (RequestHeader + input) apart. Depends on nothing
// but the bytes; any byte sequence gives a request or an error.
ParsedRequest ParseControlRequest(const uint8_t* message, size_t size);

// Whether the code changes the bus (it asks for write access, as unplug,
// reinstall, the write test and the port switches do). Such requests are
// taken only from the daemon's own user or root.
bool ChangesState(uint32_t controlCode);

// One request message in, one answer message (ReplyHeader + output) out.
std::vector<uint8_t> AnswerRequest(const uint8_t* message, size_t size, uid_t caller, Bus& bus);

}  // namespace ovrix::detail
