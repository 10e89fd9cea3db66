#include "frame.h"

namespace tidestream {
namespace {

constexpr std::string_view kCommandHeader{
    "\x7e\x01"
    "0000@",
    7};
constexpr std::string_view kReplyHeader{
    "\x02\x01"
    "0000",
    6};

}  // namespace

std::string CommandFrame(std::string_view command) {
    std::string frame(kCommandHeader);
    frame += command;
    frame += kReplyTerminator;
    return frame;
}

bool IsReplyFrame(std::string_view bytes) {
    // Header, the byte after it, the status byte and the terminator.
    return bytes.size() >= kReplyHeader.size() + 2 + kReplyTerminator.size() &&
           bytes.substr(0, kReplyHeader.size()) == kReplyHeader &&
           bytes.substr(bytes.size() - kReplyTerminator.size()) == kReplyTerminator;
}

uint8_t ReplyStatus(std::string_view bytes) {
    if (!IsReplyFrame(bytes)) {
        return 0;
    }
    const auto status = static_cast<uint8_t>(bytes[bytes.size() - kReplyTerminator.size() - 1]);
    return status == kAck || status == kNak ? status : 0;
}

}  // namespace tidestream
