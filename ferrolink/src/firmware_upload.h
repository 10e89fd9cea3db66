// The transfer step of the firmware update.
#pragma once

#include "cmd_send.h"
#include "ferrolink/tidestream/tidestream.h"

// Hands the file (ANSI name) to the data-stream library's transfer on an open
// connection; true when the transfer reported success.
bool UploadFirmware(__STRUCT_DEVICE_ONLINE* connection, FirmwareUploadInfo* info,
                    const char* szFileName);
