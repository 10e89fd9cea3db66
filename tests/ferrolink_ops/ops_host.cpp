// Test helper: writes operation log entries as a host program would.
//   ferrolink_ops_host record <kind> <code> <serial> <file> <config error text>
//   ferrolink_ops_host update <firmware file> <usb serial>
//   ferrolink_ops_host burst <threads>   (five entries from each thread at once)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ferrolink/firmware.h"
#include "op_record.h"

namespace {

_QVDeviceInfo UsbRecord(const std::string& usbSerial) {
    _QVDeviceInfo record;
    std::memset(static_cast<void*>(&record), 0, sizeof(record));
    std::snprintf(record.szSerialNumber, sizeof(record.szSerialNumber), "%s", usbSerial.c_str());
    const std::string path =
        "\\\\?\\usb#vid_1eab&pid_0d10#" + usbSerial + "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
    char16_t wide[256] = {};
    for (size_t i = 0; i < path.size() && i < 255; ++i)
        wide[i] = static_cast<char16_t>(path[i]);
    std::memcpy(record.connInfo, wide, sizeof(wide));
    return record;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "record" && argc == 7) {
        _QVDeviceInfo record;
        std::memset(static_cast<void*>(&record), 0, sizeof(record));
        std::snprintf(record.szSerialNumber, sizeof(record.szSerialNumber), "%s", argv[4]);
        std::snprintf(g_szLastConfigError, sizeof(g_szLastConfigError), "%s", argv[6]);
        WriteOpRecord(&record, argv[5], std::atoi(argv[3]), std::atoi(argv[2]));
        std::printf("left=%s\n", g_szLastConfigError);
        return 0;
    }
    if (mode == "update" && argc == 4) {
        const _QVDeviceInfo record = UsbRecord(argv[3]);
        const bool ok = qv_UpdateKernelDevice(argv[2], &record);
        std::printf("result=%d\n", ok ? 1 : 0);
        return 0;
    }
    if (mode == "burst" && argc == 3) {
        std::vector<std::thread> writers;
        for (int t = 0; t < std::atoi(argv[2]); ++t) {
            writers.emplace_back([t] {
                _QVDeviceInfo record;
                std::memset(static_cast<void*>(&record), 0, sizeof(record));
                std::snprintf(record.szSerialNumber, sizeof(record.szSerialNumber), "T%d", t);
                for (int i = 0; i < 5; ++i) {
                    const std::string file = "f" + std::to_string(t) + "-" + std::to_string(i);
                    WriteOpRecord(&record, file.c_str(), i, 1);
                }
            });
        }
        for (std::thread& writer : writers)
            writer.join();
        return 0;
    }
    std::fprintf(stderr, "usage: ferrolink_ops_host record|update ...\n");
    return 2;
}
