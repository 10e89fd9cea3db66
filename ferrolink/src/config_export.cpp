// SaveOffice and qv_SaveXml: the device's settings read with group queries
// and written as Office.xml and the configuration set file.
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "config_items.h"
#include "config_link.h"
#include "export_guard.h"
#include "ferrolink/config.h"

namespace {

constexpr size_t kOfficeReplyCapacity = 10239;
constexpr size_t kConfigReplyCapacity = 16383;

// The raw reply (from byte 0 up to its first NUL), cut to what the step handles.
std::string RawReplyText(const CCmdSend& sender, size_t capacity) {
    const char* data = reinterpret_cast<const char*>(sender.Data());
    return std::string(data, strnlen(data, capacity));
}

bool LastReplyAcknowledged(const CCmdSend& sender) {
    return sender.m_dwCurrentSize >= 3 && sender.Data()[sender.m_dwCurrentSize - 3] == 0x06;
}

}  // namespace

static int SaveOfficeBody(const _QVDeviceInfo* pDevice) {
    ferrolink_config::CallConnection connection(pDevice);
    if (!connection.Open())
        return 0;
    CCmdSend sender;
    std::vector<OfficeEntry> entries;
    int count = 0;
    sender.SendFramed(connection.Get(), "@&", &count);
    ReadDefaultsReply(RawReplyText(sender, kOfficeReplyCapacity).c_str(), entries);
    sender.SendFramed(connection.Get(), "@^", &count);
    ReadRangesReply(RawReplyText(sender, kOfficeReplyCapacity).c_str(), entries);
    WriteOfficeXml("Office.xml", entries);
    connection.Close(100);
    return LastReplyAcknowledged(sender) ? 1 : 0;
}

static void qv_SaveXmlBody(const _QVDeviceInfo* pDevice) {
    if (pDevice == nullptr)
        return;
    const std::string reply = ferrolink_config::QueryPayload(pDevice, "@*", kConfigReplyCapacity);
    // Asked once: a damaged reply that repeats the item must not repeat the
    // round trip (each may wait out the reply guards).
    std::optional<std::string> dataFormat;
    auto queryDataFormat = [pDevice, &dataFormat]() {
        if (!dataFormat) {
            const std::string answer =
                ferrolink_config::QueryPayload(pDevice, "DFMQCU", kConfigReplyCapacity);
            dataFormat = std::string(ferrolink_config::Middle(answer, 6, 3));
        }
        return *dataFormat;
    };
    const std::vector<ConfigEntry> entries = CollectConfigEntries(reply, queryDataFormat);
    WriteConfigSetXml("test.xml", entries, pDevice->szProductName);
}

extern "C" int SaveOffice(const _QVDeviceInfo* pDevice) {
    return ferrolink_guard::Guarded("SaveOffice", 0, [&] { return SaveOfficeBody(pDevice); });
}

extern "C" void qv_SaveXml(const _QVDeviceInfo* pDevice) {
    ferrolink_guard::GuardedVoid("qv_SaveXml", [&] { qv_SaveXmlBody(pDevice); });
}
