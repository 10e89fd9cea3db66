#include "wire.h"

#include <zlib.h>

namespace scansim {

std::string BuildReply(std::string_view payload, char status) {
    std::string reply(kReplyHeader);
    reply += kReplyKind;
    reply += payload;
    reply += status;
    reply += kFrameEnd;
    return reply;
}

std::string FrameBody(std::string_view frame) {
    std::string_view body = frame.substr(kFrameHeader.size());
    body.remove_suffix(kFrameEnd.size());
    if (!body.empty() && body.front() == '@') {
        body.remove_prefix(1);
    }
    return std::string(body);
}

uint32_t Crc32(std::string_view bytes) {
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
    return static_cast<uint32_t>(crc);
}

}  // namespace scansim
