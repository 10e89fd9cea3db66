// Bytes on the wire between the host and the scanner.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace scansim {

inline constexpr char kAck = 0x06;
inline constexpr char kNak = 0x15;
inline constexpr char kCan = 0x18;
inline constexpr char kEtx = 0x03;
inline constexpr char kEsc = 0x1B;
inline constexpr char kBlockStart = 0x10;
inline constexpr std::string_view kFrameHeader{
    "\x7E\x01"
    "0000",
    6};
inline constexpr std::string_view kReplyHeader{
    "\x02\x01"
    "0000",
    6};
inline constexpr std::string_view kFrameEnd{";\x03", 2};
// The byte between the reply header and the payload: this scanner always sends '0'.
inline constexpr char kReplyKind = '0';

// REPLY_HEADER, kReplyKind, payload, status, ';', ETX.
std::string BuildReply(std::string_view payload, char status);

// The command text of a complete frame: between the header (and one '@'
// after it) and the closing ';' ETX.
std::string FrameBody(std::string_view frame);

uint32_t Crc32(std::string_view bytes);

}  // namespace scansim
