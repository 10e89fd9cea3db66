// ferroctl list and watch.
#include "verbs_list.h"

#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ferrolink/ferrolink.h"

namespace {

constexpr int kTableSize = 20;

std::string PortText(const _QVDeviceInfo& record) {
    if (record.nPortType == FERROLINK_PORT_COM) {
        ComPortSettings port;
        std::memcpy(&port, record.connInfo, sizeof port);
        return "COM" + std::to_string(port.wPort) + "@" + std::to_string(port.dwBaudRate);
    }
    std::string path;
    const auto* units = reinterpret_cast<const char16_t*>(record.connInfo);
    for (int i = 0; i < 256 && units[i] != 0; ++i)
        path.push_back(units[i] < 0x80 ? static_cast<char>(units[i]) : '?');
    return path;
}

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) {
    g_stop = 1;
}

int OnStatus(int nState, void*) {
    std::printf("status: %s\n", nState == 1 ? "not connected" : "connected");
    std::fflush(stdout);
    return 0;
}

void OnData(const unsigned char* pData, int nLength, void*) {
    std::string text;
    for (int i = 0; i < nLength; ++i) {
        const unsigned char c = pData[i];
        if (c >= 0x20 && c < 0x7F) {
            text.push_back(static_cast<char>(c));
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            text += hex;
        }
    }
    std::printf("scan (%d bytes): %s\n", nLength, text.c_str());
    std::fflush(stdout);
}

}  // namespace

int RunListVerb(int argc, char** argv) {
    if (argc > 0 && std::strcmp(argv[0], "--help") == 0) {
        std::printf(
            "Usage: ferroctl list\nPrints index, port type, port, product name, "
            "serial number and firmware version of each scanner found.\n");
        return 0;
    }
    _QVDeviceInfo* table = new _QVDeviceInfo[kTableSize];
    for (int i = 0; i < kTableSize; ++i)
        std::memset(static_cast<void*>(&table[i]), 0, sizeof table[i]);
    const int found = qv_GetDevice(table, kTableSize);
    std::printf("%-3s %-4s %-60s %-20s %-20s %s\n", "#", "type", "port", "product", "serial",
                "firmware");
    for (int i = 0; i < found; ++i)
        std::printf("%-3d %-4s %-60s %-20s %-20s %s\n", i,
                    table[i].nPortType == FERROLINK_PORT_COM ? "COM" : "USB",
                    PortText(table[i]).c_str(), table[i].szProductName, table[i].szSerialNumber,
                    table[i].szFirmwareVersion);
    delete[] table;
    if (found == 0) {
        std::fprintf(stderr, "ferroctl: no scanner found\n");
        return 1;
    }
    return 0;
}

int RunWatchVerb(int argc, char** argv) {
    if (argc > 0 && std::strcmp(argv[0], "--help") == 0) {
        std::printf(
            "Usage: ferroctl watch\nRegisters on the first scanner found and prints "
            "each scan and each connection change until Ctrl+C.\n");
        return 0;
    }
    _QVDeviceInfo* table = new _QVDeviceInfo[kTableSize];
    for (int i = 0; i < kTableSize; ++i)
        std::memset(static_cast<void*>(&table[i]), 0, sizeof table[i]);
    if (qv_GetDevice(table, kTableSize) < 1) {
        delete[] table;
        std::fprintf(stderr, "ferroctl: no scanner found\n");
        return 1;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    ktr_register_notify_all(&table[0], OnStatus, OnData, nullptr);
    std::printf("watching %s (%s)\n", table[0].szProductName, PortText(table[0]).c_str());
    std::fflush(stdout);
    while (g_stop == 0)
        pause();
    ktr_unregister_notify(&table[0], 1, 1);
    table[0].Close(0);
    delete[] table;
    std::printf("stopped\n");
    return 0;
}
