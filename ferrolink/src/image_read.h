// The image reading step of the capture.
#pragma once

#include <cstddef>

#include "cmd_send.h"

// Collects an image reply into the library-wide image buffer; the sender's
// m_dwCurrentSize tells how many bytes came. true when any came.
bool ReadImage(CCmdSend& sender, __STRUCT_DEVICE_ONLINE* connection);
// The reply completeness rule applied to the image buffer.
bool ImageReplyComplete(const unsigned char* data, size_t size);
const unsigned char* ImageBufferData();
