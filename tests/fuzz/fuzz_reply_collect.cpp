// Collecting a reply from a device: the input is what the device sends on a
// real pty (with the frame end appended), the sender reads it in chunks and
// grows its buffer as the reply gets longer.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "cmd_send.h"
#include "ferrolink/tidestream/tidestream.h"
#include "fuzz_check.h"
#include "platform/runtime_namespace.h"
#include "support/temp_folder.h"

namespace {

constexpr char kDeviceName[] = "usb#vid_1eab&pid_0d10#fuzz0001";
std::filesystem::path g_runtimeDir;

struct Device {
    int master = -1;
    __STRUCT_DEVICE_ONLINE connection{};
};

void RemoveRuntimeDir() {
    std::error_code ignored;
    std::filesystem::remove_all(g_runtimeDir, ignored);
}

// A pty in raw mode whose device side the target plays, named in the runtime
// namespace as a USB scanner, and a connection opened on it once.
Device& TheDevice() {
    static Device& device = *[] {
        auto* made = new Device;  // lives as long as the process
        g_runtimeDir = support::MakePrivateFolder("fuzz_reply_collect");
        if (g_runtimeDir.empty())
            std::abort();
        std::atexit(RemoveRuntimeDir);
        setenv("KTR_RUNTIME_DIR", g_runtimeDir.c_str(), 1);
        int slave = -1;
        char name[128];
        if (openpty(&made->master, &slave, name, nullptr, nullptr) != 0)
            std::abort();
        termios raw{};
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
        close(slave);
        fcntl(made->master, F_SETFL, fcntl(made->master, F_GETFL) | O_NONBLOCK);
        if (!platform::AddEntry(platform::kUsbFolder, kDeviceName, name))
            std::abort();
        _QVDeviceInfo record;
        std::memset(static_cast<void*>(&record), 0, sizeof record);
        const std::u16string path = platform::UsbDevicePathFromName(kDeviceName);
        std::memcpy(record.connInfo, path.c_str(), (path.size() + 1) * sizeof(char16_t));
        record.nPortType = FERROLINK_PORT_USB;
        CopyPortSettings(record, made->connection);
        if (!OpenConnection(&made->connection))
            std::abort();
        return made;
    }();
    return device;
}

// Writes the bytes as the pty takes them, until all are out or told to stop
// (the sender may stop reading before the end).
void Send(int master, const std::string& bytes, const std::atomic<bool>& stop) {
    size_t written = 0;
    while (written < bytes.size() && !stop.load()) {
        const ssize_t n = write(master, bytes.data() + written, bytes.size() - written);
        if (n > 0) {
            written += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return;
        pollfd ready{master, POLLOUT, 0};
        poll(&ready, 1, 10);
    }
}

void Drain(Device& device) {
    char sink[4096];
    while (read(device.master, sink, sizeof sink) > 0) {
    }
    qvds_clean(device.connection.hStream, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Device& device = TheDevice();
    std::string sent(reinterpret_cast<const char*>(data), size);
    sent += ";\x03";  // whatever came before, the reply ends here
    std::atomic<bool> stop{false};
    std::thread writer(Send, device.master, std::cref(sent), std::cref(stop));
    CCmdSend sender;
    const bool read = sender.ReadReply(&device.connection);
    stop = true;
    writer.join();
    Drain(device);

    FUZZ_CHECK(read);
    FUZZ_CHECK(sender.m_dwCurrentSize > 0 && sender.m_dwCurrentSize <= sent.size());
    // Every byte read is kept, in order, and the next chunk still has its room.
    FUZZ_CHECK(std::memcmp(sender.Data(), sent.data(), sender.m_dwCurrentSize) == 0);
    FUZZ_CHECK(sender.BuffSize() - sender.m_dwCurrentSize >= CCmdSend::kChunkSize);
    FUZZ_CHECK(sender.IsReplyComplete());
    for (uint32_t i = sender.m_dwCurrentSize; i < sender.BuffSize(); ++i)
        FUZZ_CHECK(sender.Data()[i] == 0);
    return 0;
}
