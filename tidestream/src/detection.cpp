// Serial detection: each listed port is asked for its identification at the
// usual rates in turn; the rate that brings a reply frame is written back.
#include <string>
#include <thread>
#include <vector>

#include "ferrolink/tidestream/tidestream.h"
#include "frame.h"
#include "platform/runtime_namespace.h"
#include "tty_stream.h"

namespace {

constexpr uint32_t kProbeRates[] = {115200, 9600, 57600, 38400, 19200};
constexpr std::string_view kIdentifyCommand = "QRYSYS,PDN,PSN";
constexpr uint32_t kReplyBufferBytes = 10240;

// One identification exchange at one rate; true when a reply frame came back
// within timeoutMs.
bool AnswersAt(const std::filesystem::path& node, uint32_t rate, uint32_t timeoutMs) {
    tidestream::TtyStream stream;
    if (stream.Open(node, rate, 8) != QVDS_OK) {
        return false;
    }
    const std::string frame = tidestream::CommandFrame(kIdentifyCommand);
    if (!stream.Clean() || !stream.Write(frame.data(), static_cast<uint32_t>(frame.size()))) {
        return false;
    }
    std::string reply(kReplyBufferBytes, '\0');
    int error = QVDS_OK;
    const uint32_t n = stream.ReadUntil(reinterpret_cast<uint8_t*>(reply.data()), kReplyBufferBytes,
                                        timeoutMs, tidestream::kReplyTerminator, &error);
    reply.resize(n);
    return tidestream::IsReplyFrame(reply);
}

void DetectPort(ComPortSettings& port, uint32_t timeoutMs) {
    port.dwBaudRate = 0;
    const auto node = platform::ResolveComPort(port.wPort);
    if (!node) {
        return;
    }
    for (uint32_t rate : kProbeRates) {
        if (AnswersAt(*node, rate, timeoutMs)) {
            port.dwBaudRate = rate;
            port.byDataBits = 8;
            return;
        }
    }
}

}  // namespace

extern "C" int qvds_detect_serial_settings(ComPortSettings* pPorts, int nCount, int nTimeoutUnits) {
    if (pPorts == nullptr || nCount <= 0) {
        return 0;
    }
    // nTimeoutUnits is the wait for a reply at one rate, in milliseconds.
    const uint32_t timeoutMs = nTimeoutUnits > 0 ? static_cast<uint32_t>(nTimeoutUnits) : 100;
    // Ports are probed side by side, so the whole call takes about as long as
    // one port: five rates times the wait.
    std::vector<std::thread> probes;
    for (int i = 0; i < nCount; ++i) {
        try {
            probes.emplace_back(DetectPort, std::ref(pPorts[i]), timeoutMs);
        } catch (const std::system_error&) {
            DetectPort(pPorts[i], timeoutMs);
        }
    }
    for (auto& probe : probes) {
        probe.join();
    }
    return nCount;
}
