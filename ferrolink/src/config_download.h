// Writing a configuration set into a device: classifying the set's elements,
// filling command frames up to the device's buffer and the final frame of
// held-back settings, and reading which parts of an answer the device refused.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "config_xml.h"
#include "ferrolink/config.h"

extern "C" {
extern int32_t g_nDeviceBufSize;
extern void* g_pSaveType;
extern int32_t g_nConfigErrorLen;
}

namespace ferrolink_config {

enum class DownloadForm {
    kRecord,   // AUTOUR held back, ends with BASSFY;SAVEFY;BASRES (also the port download)
    kUnified,  // AUTOUR an ordinary item, ends with CUSSAV when a save type is set
};

// The framed command: header, '@', the text, ';', 0x03.
std::string ConfigFrame(std::string_view text);

// Sends one frame; false ends the download.
using FrameSender = std::function<bool(const std::string& frame)>;

// Sends the elements as batches and then the final frame. An intermediate
// frame that fails is copied into the last configuration error text.
bool DownloadConfigSet(const ConfigSetElements& elements, DownloadForm form,
                       const FrameSender& send);

// Clears the last configuration error text and its length.
void ClearConfigError();

// The parts refused since the last ClearConfigError, each followed by '|',
// up to kRefusedPartsCapacity bytes; not emptied by the operation log.
inline constexpr size_t kRefusedPartsCapacity = 1 << 20;
extern std::string g_refusedParts;

// Told after the start, after each full batch and at the end of a download
// how many of the set's elements were handled.
extern ConfigProgressCallback g_progress;
extern void* g_progressUser;

// Lists the refused parts of a device answer in the error text, each followed
// by '|' (as long as the text has room); true when a part was refused.
bool RecordRefusedParts(std::string_view reply);

// The number of a BUFQRY payload ("BUFQRY1024" + status, ';', 0x03), or -1
// when it holds no number of at most 15 digits.
int ParseBufferSize(std::string_view payload);

}  // namespace ferrolink_config
