// The device side of the firmware transfer: FWSTART, numbered blocks, FWEND.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace scansim {

class FirmwareReceiver {
  public:
    // "FWSTART<kind>,<size>,<crc>" arguments (text after FWSTART). false when malformed.
    bool Begin(std::string_view arguments);
    bool Active() const { return active_; }

    // Bytes a whole block needs, read from its first 6 bytes; 0 while fewer are there.
    static size_t BlockLength(std::string_view bytes);
    // The first 6 bytes announce more data than a block may carry.
    static bool BlockHeadDamaged(std::string_view bytes);
    // Answer to one whole block: ACK, NAK (damaged or out of order), CAN (gave up).
    char TakeBlock(std::string_view block);

    // FWEND: the image if size and CRC match, else nullopt. Ends the transfer either way.
    std::optional<std::string> Finish();
    void Abort();

    // The version an image carries: the version text of a header at its start
    // ("KTRF" magic, text at offset 44), else the text after "FWVER=".
    static std::optional<std::string> VersionOf(std::string_view image);

  private:
    bool active_ = false;
    uint32_t expectedSize_ = 0;
    uint32_t expectedCrc_ = 0;
    uint16_t nextSeq_ = 0;
    std::string image_;
};

}  // namespace scansim
