// The operation log: one entry per firmware update or configuration download
// in <log folder>/<yyyy-mm-dd>.ini (op_log_folder.h).
#pragma once

#include <cstdint>
#include <string>

#include "ferrolink/record.h"

struct OpRecord {
    char szOpeCommand[16];
    char szOpeFile[260];
    char szTime[32];
    char szDevSn[128];
    int32_t nErrorInfo;
    char szStrError[4096];
};

// The last configuration error text; the download writes it, the next log
// entry copies it (for a "SetConfig" entry) and clears it.
extern char g_szLastConfigError[4096];

// Kind 1 = "Update", anything else = "SetConfig". Failures to write the entry
// are traced, never reported to the caller.
void WriteOpRecord(const _QVDeviceInfo* pDevice, const char* szFileName, int nErrorCode, int nKind);

// Fills the record for one entry; every text is cut to its field.
void BuildOpRecord(OpRecord& record, const _QVDeviceInfo* pDevice, const char* szFileName,
                   int nErrorCode, int nKind);

// The library's clock formats: "2024-05-09" for the file, "14:03:07.045" for the entry.
std::string CurrentDayName();
std::string CurrentEntryTime();
