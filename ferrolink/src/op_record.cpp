// The operation log: one ini section per firmware update or configuration
// download, in a file per day (see op_log_folder.h for the folder).
#include "op_record.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>

#include "ferrolink/tidestream/tidestream.h"
#include "library_locks.h"
#include "log_source.h"
#include "op_log_folder.h"
#include "platform/ini_file.h"
#include "platform/module_path.h"

char g_szLastConfigError[4096] = {};

namespace {

// Copies at most field size - 1 characters and always terminates.
template <size_t N>
void CopyBounded(char (&field)[N], const char* text) {
    if (text == nullptr) {
        field[0] = '\0';
        return;
    }
    const size_t length = strnlen(text, N - 1);
    std::memcpy(field, text, length);
    field[length] = '\0';
}

struct LocalNow {
    std::tm tm{};
    int milliseconds = 0;
};

LocalNow Now() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    LocalNow result;
    localtime_r(&seconds, &result.tm);
    const auto sinceEpoch = now.time_since_epoch();
    result.milliseconds = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count() % 1000);
    return result;
}

// The file is opened for reading, else created empty; the log directory
// itself is never made.
bool EnsureFile(const std::filesystem::path& file) {
    if (std::ifstream(file).is_open())
        return true;
    return std::ofstream(file).is_open();
}

}  // namespace

std::string CurrentDayName() {
    const LocalNow now = Now();
    char text[32];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02d", now.tm.tm_year + 1900, now.tm.tm_mon + 1,
                  now.tm.tm_mday);
    return text;
}

std::string CurrentEntryTime() {
    const LocalNow now = Now();
    char text[32];
    std::snprintf(text, sizeof(text), "%02d:%02d:%02d.%03d", now.tm.tm_hour, now.tm.tm_min,
                  now.tm.tm_sec, now.milliseconds);
    return text;
}

void BuildOpRecord(OpRecord& record, const _QVDeviceInfo* pDevice, const char* szFileName,
                   int nErrorCode, int nKind) {
    std::memset(&record, 0, sizeof(record));
    CopyBounded(record.szOpeCommand, nKind == 1 ? "Update" : "SetConfig");
    CopyBounded(record.szOpeFile, szFileName);
    CopyBounded(record.szTime, CurrentEntryTime().c_str());
    if (pDevice != nullptr) {
        // The record's serial field need not be terminated: read at most its size.
        char serial[sizeof(pDevice->szSerialNumber) + 1] = {};
        std::memcpy(serial, pDevice->szSerialNumber, sizeof(pDevice->szSerialNumber));
        CopyBounded(record.szDevSn, serial);
    }
    record.nErrorInfo = nErrorCode;
    if (nKind != 1)
        CopyBounded(record.szStrError, g_szLastConfigError);
}

namespace {

// Writes the five keys of the entry under the record lock; false when the
// day's file can neither be opened nor created.
bool WriteEntryLocked(const OpRecord& record) {
    MutexHold lock(g_recordMutex);
    const std::filesystem::path folder = OpLogFolder();
    if (folder.empty())
        return false;
    const std::filesystem::path file = folder / (CurrentDayName() + ".ini");
    if (!EnsureFile(file))
        return false;
    const std::string section = record.szTime;
    platform::IniWriteString(file, section, "DevSn", record.szDevSn);
    platform::IniWriteString(file, section, "OpeCommand", record.szOpeCommand);
    platform::IniWriteString(file, section, "OpeFile", record.szOpeFile);
    platform::IniWriteString(file, section, "ErrorInfo", std::to_string(record.nErrorInfo));
    platform::IniWriteString(file, section, "strError", record.szStrError);
    std::memset(g_szLastConfigError, 0, sizeof(g_szLastConfigError));
    return true;
}

}  // namespace

void WriteOpRecord(const _QVDeviceInfo* pDevice, const char* szFileName, int nErrorCode,
                   int nKind) {
    auto entry = std::make_unique<OpRecord>();  // 4.5 KB: kept off the caller's stack
    BuildOpRecord(*entry, pDevice, szFileName, nErrorCode, nKind);
    logout_line(QVDS_LOG_TRACE, kLogSource, 316, "%s: SN=%s Enter", "WriteRecord", entry->szDevSn);
    const bool written = WriteEntryLocked(*entry);
    logout_line(QVDS_LOG_TRACE, kLogSource, written ? 335 : 326,
                written ? "%s: SN=%s Success" : "%s: SN=%s Error", "WriteRecord", entry->szDevSn);
}
