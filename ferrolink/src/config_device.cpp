// The configuration download exports and the steps that talk to the device.
#include <algorithm>
#include <cstring>

#include "config_download.h"
#include "config_items.h"
#include "config_link.h"
#include "config_xml.h"
#include "export_guard.h"
#include "ferrolink/config.h"
#include "ferrolink/tidestream/tidestream.h"
#include "log_source.h"
#include "op_record.h"
#include "platform/tick.h"

namespace {

constexpr size_t kLinkAnswerCapacity = 1023;

bool ApplyForm(const char* szFileName, __STRUCT_DEVICE_ONLINE* pConnection,
               ferrolink_config::DownloadForm form) {
    ferrolink_config::ConfigSetElements elements;
    if (!ferrolink_config::LoadConfigSet(szFileName, &elements))
        return false;
    return ferrolink_config::DownloadConfigSet(
        elements, form, [pConnection](const std::string& frame) {
            platform::SleepMs(30);
            return SendConfigFrame(pConnection, frame.data(), frame.size());
        });
}

// The device-record downloads: buffer size, connection, download, log entry.
bool DownloadToRecord(char* szFileName, const _QVDeviceInfo* pDevice,
                      ferrolink_config::DownloadForm form) {
    if (pDevice == nullptr)
        return false;
    ferrolink_config::CallConnection connection(pDevice);
    if (!connection.Made())
        return false;
    QueryBufferSize(pDevice);
    if (form != ferrolink_config::DownloadForm::kUnified && g_nDeviceBufSize > 300) {
        g_nDeviceBufSize = 300;
    }
    if (!connection.Open())
        return false;
    const bool ok = form == ferrolink_config::DownloadForm::kUnified
                        ? ApplyConfigSetU(szFileName, connection.Get())
                        : ApplyConfigSet(szFileName, connection.Get());
    WriteOpRecord(pDevice, szFileName, ok ? 0 : -1, 0);
    connection.Close(0);
    return ok;
}

// A download step counts only when the device answered with a whole reply
// frame: stray bytes or a reply cut short say nothing about the settings sent.
bool IsWholeReplyFrame(const CCmdSend& sender) {
    const uint32_t size = sender.m_dwCurrentSize;
    return size >= 8 && std::memcmp(sender.Data(), REPLY_HEADER, sizeof REPLY_HEADER) == 0 &&
           sender.Data()[size - 2] == ';' && sender.Data()[size - 1] == 0x03;
}

}  // namespace

bool SendConfigFrame(__STRUCT_DEVICE_ONLINE* pConnection, const char* pBytes, size_t nLength) {
    if (!IsUsable(pConnection) ||
        (qvds_clean(pConnection->hStream, 0),
         qvds_write(pConnection->hStream, pBytes, static_cast<uint32_t>(nLength)) == 0)) {
        logout_line(QVDS_LOG_ERROR, kLogSource, 4155, "%s Error", "SendCommond.Write");
        return false;
    }
    CCmdSend sender;
    const bool read = sender.ReadReply(pConnection);
    const std::string reply(reinterpret_cast<const char*>(sender.Data()));
    if (reply.empty()) {
        logout_line(QVDS_LOG_ERROR, kLogSource, 4164, "%s Error", "SendCommond.Read str.size==0");
        return false;
    }
    if (ferrolink_config::RecordRefusedParts(reply)) {
        const std::string frame(pBytes, nLength);
        logout_line(QVDS_LOG_TRACE, kLogSource, 4231, "Command=%s", frame.c_str());
        logout_line(QVDS_LOG_TRACE, kLogSource, 4232, "Respond=%s", reply.c_str());
    }
    if (!read) {
        logout_line(QVDS_LOG_ERROR, kLogSource, 4236, "%s Error", "SendCommond.Read bRet==0");
        return false;
    }
    if (!IsWholeReplyFrame(sender)) {
        logout_line(QVDS_LOG_ERROR, kLogSource, 4236, "%s Error", "SendCommond.Read frame");
        return false;
    }
    return true;
}

void QueryBufferSize(const _QVDeviceInfo* pDevice) {
    platform::SleepMs(500);
    bool acknowledged = false;
    const std::string payload =
        ferrolink_config::QueryPayload(pDevice, "BUFQRY", 1023, &acknowledged);
    if (!acknowledged)
        return;
    const int size = ferrolink_config::ParseBufferSize(payload);
    if (size >= 0)
        g_nDeviceBufSize = size;
}

bool ResetKeepingLink(__STRUCT_DEVICE_ONLINE* pConnection) {
    char answer[kLinkAnswerCapacity + 1] = {};
    if (SendOnConnection(pConnection, "INTERF*", answer, sizeof(answer)) == 0)
        return false;
    std::string command = "GENDEF;";
    auto keep = [&command](int acknowledged, const char* text) {
        const std::string_view stored = ferrolink_config::Middle(text, 0, 3);
        if (acknowledged != 0 && !stored.empty())
            command.append(stored).append(";");
    };
    keep(1, answer);
    for (const char* query : {"AUTOUR*", "232BAD*", "232PAR*", "232STP*", "232DAT*", "KBWPOR*"}) {
        std::memset(answer, 0, sizeof(answer));
        keep(SendOnConnection(pConnection, query, answer, sizeof(answer)), answer);
    }
    if (command.size() > kLinkAnswerCapacity)
        command.resize(kLinkAnswerCapacity);
    logout_line(QVDS_LOG_TRACE, kLogSource, 4775, "%s", command.c_str());
    std::memset(answer, 0, sizeof(answer));
    return SendOnConnection(pConnection, command.c_str(), answer, sizeof(answer)) != 0;
}

bool ApplyConfigSet(const char* szFileName, __STRUCT_DEVICE_ONLINE* pConnection) {
    return ApplyForm(szFileName, pConnection, ferrolink_config::DownloadForm::kRecord);
}

bool ApplyConfigSetU(const char* szFileName, __STRUCT_DEVICE_ONLINE* pConnection) {
    return ApplyForm(szFileName, pConnection, ferrolink_config::DownloadForm::kUnified);
}

static bool qv_SavetoDeviceBody(char* szFileName, int nPort, int nBaudRate) {
    // A set that cannot be read is refused before the link reset goes out.
    ferrolink_config::ConfigSetElements elements;
    if (!ferrolink_config::LoadConfigSet(szFileName, &elements))
        return false;
    ferrolink_config::CallConnection connection(static_cast<uint16_t>(nPort & 0xFFFF),
                                                static_cast<uint32_t>(nBaudRate));
    if (!connection.Made() || !ResetKeepingLink(connection.Get()) || !connection.Open()) {
        return false;
    }
    const bool ok = ApplyConfigSet(szFileName, connection.Get());
    connection.Close(0);
    return ok;
}

static bool qv_SavetoDeviceANBody(char* szFileName, const _QVDeviceInfo* pDevice) {
    return DownloadToRecord(szFileName, pDevice, ferrolink_config::DownloadForm::kRecord);
}

static bool qv_SavetoDeviceAN_UBody(char* szFileName, const _QVDeviceInfo* pDevice) {
    return DownloadToRecord(szFileName, pDevice, ferrolink_config::DownloadForm::kUnified);
}

extern "C" intptr_t SetSaveType(intptr_t nSaveType) {
    g_pSaveType = reinterpret_cast<void*>(nSaveType);
    return nSaveType;
}

extern "C" bool qv_SavetoDevice(char* szFileName, int nPort, int nBaudRate) {
    return ferrolink_guard::Guarded("qv_SavetoDevice", false, [&] {
        return qv_SavetoDeviceBody(szFileName, nPort, nBaudRate);
    });
}

extern "C" bool qv_SavetoDeviceAN(char* szFileName, const _QVDeviceInfo* pDevice) {
    return ferrolink_guard::Guarded("qv_SavetoDeviceAN", false,
                                    [&] { return qv_SavetoDeviceANBody(szFileName, pDevice); });
}

extern "C" void qv_SetConfigProgress(ConfigProgressCallback pfnProgress, void* pUser) {
    ferrolink_config::g_progress = pfnProgress;
    ferrolink_config::g_progressUser = pUser;
}

extern "C" int qv_GetConfigRefusals(char* szOutput, size_t nCapacity) {
    return ferrolink_guard::Guarded("qv_GetConfigRefusals", 0, [&] {
        const std::string& refused = ferrolink_config::g_refusedParts;
        if (szOutput != nullptr && nCapacity > 0) {
            const size_t n = std::min(refused.size(), nCapacity - 1);
            std::memcpy(szOutput, refused.data(), n);
            szOutput[n] = '\0';
        }
        return static_cast<int>(refused.size());
    });
}

extern "C" bool qv_SavetoDeviceAN_U(char* szFileName, const _QVDeviceInfo* pDevice) {
    return ferrolink_guard::Guarded("qv_SavetoDeviceAN_U", false,
                                    [&] { return qv_SavetoDeviceAN_UBody(szFileName, pDevice); });
}
