// What the configuration operations need of a connection: a per-call
// connection made from a record, bounded queries and answered frames.
#pragma once

#include <string>
#include <string_view>

#include "cmd_send.h"
#include "command_link.h"
#include "ferrolink/record.h"

namespace ferrolink_config {

// A connection object of its own for one call (shared with the command operations).
using CallConnection = ferrolink_ops::PerCallLink;

// Sends `command` on a per-call connection and returns the payload (from byte
// 7, at most `capacity` characters); *acknowledged tells whether the device
// accepted it. Empty when the device cannot be reached or does not answer.
std::string QueryPayload(const _QVDeviceInfo* record, const char* command, size_t capacity,
                         bool* acknowledged = nullptr);

}  // namespace ferrolink_config

bool SendConfigFrame(__STRUCT_DEVICE_ONLINE* pConnection, const char* pBytes, size_t nLength);
void QueryBufferSize(const _QVDeviceInfo* pDevice);
bool ResetKeepingLink(__STRUCT_DEVICE_ONLINE* pConnection);
bool ApplyConfigSet(const char* szFileName, __STRUCT_DEVICE_ONLINE* pConnection);
bool ApplyConfigSetU(const char* szFileName, __STRUCT_DEVICE_ONLINE* pConnection);
