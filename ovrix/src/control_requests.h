// Answers to the driver's control codes, byte for byte as callers expect them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <vector>

#include "virtual_port.h"

namespace ovrix::detail {

// One request message (RequestHeader + input) in, one answer message
// (ReplyHeader + output) out.
std::vector<uint8_t> AnswerRequest(const uint8_t* message, size_t size, uid_t caller, Bus& bus);

}  // namespace ovrix::detail
