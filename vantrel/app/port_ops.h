// The operations the key loop runs on the open port, each printing every
// step so the driver's answers can be watched.
#pragma once

#include <cstdint>
#include <string>

#include "log_file.h"
#include "port/win_types.h"

namespace vantrel::app {

// The shared read/write buffer; counts stay below its size so that a
// terminating zero fits after the data.
inline constexpr uint32_t kRwBufferBytes = 8124000;

enum class CountKind { kRead, kWrite };

int ReadFile_Sync(win::HANDLE port, void* buffer, uint32_t count);
void MyClearCommData(win::HANDLE port, uint32_t milliseconds, bool verbose);
void ReportCommError(win::HANDLE port);
void SetCtsFlow(win::HANDLE port, bool on);
void DoPurge(win::HANDLE port, bool abort);
uint32_t AskByteCount(CountKind kind);
void DoReadFile(win::HANDLE port, uint32_t count);
void DoWriteFile(win::HANDLE port, uint32_t count);
void PrintCommInfo(win::HANDLE port);
std::string ModemLinesText(uint32_t modemStatus, bool withDcdAndRing);
// Releases the records of reads left pending; called once the port is closed
// (which ends them).
void ReleasePendingReads();

log::LogFile& ReadLog();

}  // namespace vantrel::app
