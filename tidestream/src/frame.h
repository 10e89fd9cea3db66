// The framed command and reply of the scanner protocol.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tidestream {

inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kNak = 0x15;
inline constexpr uint8_t kCan = 0x18;
// Every reply frame ends with these two bytes.
inline constexpr std::string_view kReplyTerminator{";\x03", 2};

// 7E 01 "0000" '@' <command> ';' 03
std::string CommandFrame(std::string_view command);
// Whether bytes hold a whole reply frame: 02 01 "0000" <byte> ... <status> ';' 03.
bool IsReplyFrame(std::string_view bytes);
// The status byte of a whole reply frame (ACK or NAK), 0 when it is none.
uint8_t ReplyStatus(std::string_view bytes);

}  // namespace tidestream
