// Comm state over termios, queues, purge, errors, modem lines and comm
// events on real pseudo-terminal pairs.
#include <termios.h>

#include <thread>

#include "port_test_support.h"

namespace porttest {
namespace {

using namespace win;
using Clock = std::chrono::steady_clock;

class PortCommState : public ::testing::Test {
  protected:
    void SetUp() override {
        PublishCom(4, pty);
        port = OpenOverlapped("\\\\.\\COM4");
        ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
    }
    void TearDown() override { CloseHandle(port); }
    // Waits until the port's input queue holds `count` bytes.
    DWORD WaitInQueue(DWORD count) {
        COMSTAT stat{};
        auto limit = Clock::now() + 5s;
        do {
            std::this_thread::sleep_for(5ms);
            EXPECT_TRUE(ClearCommError(port, nullptr, &stat));
        } while (stat.cbInQue < count && Clock::now() < limit);
        return stat.cbInQue;
    }
    termios DeviceTermios() const {
        termios tio{};
        EXPECT_EQ(::tcgetattr(pty.MasterFd(), &tio), 0);
        return tio;
    }
    RuntimeDirScope runtime;
    Pty pty;
    HANDLE port = INVALID_HANDLE_VALUE;
};

TEST_F(PortCommState, FreshPortIsRawEightNoneOne) {
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port, &dcb));
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
    termios tio = DeviceTermios();
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
}

struct DcbCase {
    const char* name;
    DWORD baud;
    BYTE byteSize;
    BYTE parity;
    BYTE stopBits;
    bool ctsFlow;
    bool outX;
    bool inX;
    speed_t speed;
    tcflag_t cflagSet;
    tcflag_t cflagClear;
};

class PortDcbToTermios : public PortCommState, public ::testing::WithParamInterface<DcbCase> {};

TEST_P(PortDcbToTermios, SetReachesTheDeviceAndReadsBack) {
    const auto& c = GetParam();
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port, &dcb));
    dcb.BaudRate = c.baud;
    dcb.ByteSize = c.byteSize;
    dcb.Parity = c.parity;
    dcb.StopBits = c.stopBits;
    dcb.fOutxCtsFlow = c.ctsFlow;
    dcb.fOutX = c.outX;
    dcb.fInX = c.inX;
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;  // kept by the port though termios has no place
    dcb.EvtChar = '\n';
    ASSERT_TRUE(SetCommState(port, &dcb)) << GetLastError();
    termios tio = DeviceTermios();
    // A pseudo terminal forces 8 bits without parity; the rest reaches it.
    constexpr tcflag_t kPtyKeeps = ~static_cast<tcflag_t>(CSIZE | PARENB);
    EXPECT_EQ(cfgetospeed(&tio), c.speed);
    EXPECT_EQ(tio.c_cflag & c.cflagSet & kPtyKeeps, c.cflagSet & kPtyKeeps);
    EXPECT_EQ(tio.c_cflag & c.cflagClear & kPtyKeeps, 0u);
    EXPECT_EQ((tio.c_iflag & IXON) != 0, c.outX);
    EXPECT_EQ((tio.c_iflag & IXOFF) != 0, c.inX);
    DCB back{};
    ASSERT_TRUE(GetCommState(port, &back));
    EXPECT_EQ(back.BaudRate, c.baud);
    EXPECT_EQ(back.ByteSize, c.byteSize);
    EXPECT_EQ(back.Parity, c.parity);
    EXPECT_EQ(back.StopBits, c.stopBits);
    EXPECT_EQ(back.fOutxCtsFlow, c.ctsFlow ? 1u : 0u);
    EXPECT_EQ(back.fDtrControl, DTR_CONTROL_HANDSHAKE);
    EXPECT_EQ(back.EvtChar, '\n');
}

INSTANTIATE_TEST_SUITE_P(
    Windows, PortDcbToTermios,
    ::testing::Values(DcbCase{"B115200_8N1", 115200, 8, NOPARITY, ONESTOPBIT, false, false, false,
                              B115200, CS8, PARENB | CSTOPB | CRTSCTS},
                      DcbCase{"B9600_7E2", 9600, 7, EVENPARITY, TWOSTOPBITS, false, false, false,
                              B9600, CS7 | PARENB | CSTOPB, PARODD | CMSPAR},
                      DcbCase{"B19200_8O1_Cts", 19200, 8, ODDPARITY, ONESTOPBIT, true, false, false,
                              B19200, CS8 | PARENB | PARODD | CRTSCTS, CMSPAR},
                      DcbCase{"B2400_6M1", 2400, 6, MARKPARITY, ONESTOPBIT, false, true, true,
                              B2400, CS6 | PARENB | PARODD | CMSPAR, CSTOPB},
                      DcbCase{"B921600_5S15", 921600, 5, SPACEPARITY, ONE5STOPBITS, false, true,
                              false, B921600, CS5 | PARENB | CMSPAR | CSTOPB, PARODD}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortCommState, InvalidDcbIsRefusedAndChangesNothing) {
    DCB good{};
    ASSERT_TRUE(GetCommState(port, &good));
    struct Bad {
        const char* name;
        void (*spoil)(DCB&);
    };
    const Bad cases[] = {
        {"ByteSize4", [](DCB& d) { d.ByteSize = 4; }},
        {"ByteSize9", [](DCB& d) { d.ByteSize = 9; }},
        {"Parity5", [](DCB& d) { d.Parity = 5; }},
        {"StopBits3", [](DCB& d) { d.StopBits = 3; }},
        {"Baud0", [](DCB& d) { d.BaudRate = 0; }},
        {"Baud12345", [](DCB& d) { d.BaudRate = 12345; }},
    };
    for (const auto& c : cases) {
        DCB dcb = good;
        c.spoil(dcb);
        EXPECT_FALSE(SetCommState(port, &dcb)) << c.name;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << c.name;
        DCB now{};
        ASSERT_TRUE(GetCommState(port, &now));
        EXPECT_EQ(now.BaudRate, good.BaudRate) << c.name;
        EXPECT_EQ(now.ByteSize, good.ByteSize) << c.name;
    }
}

TEST_F(PortCommState, TimeoutsReadBackAndMeaninglessSetIsRefused) {
    SetTimeouts(port, MAXDWORD, MAXDWORD, 500, 3, 40);
    COMMTIMEOUTS t{};
    ASSERT_TRUE(GetCommTimeouts(port, &t));
    EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, MAXDWORD);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 500u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 3u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 40u);
    COMMTIMEOUTS bad{MAXDWORD, MAXDWORD, MAXDWORD, 0, 0};
    EXPECT_FALSE(SetCommTimeouts(port, &bad));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(PortCommState, InputQueueCountsAndLosesNothingBeyondItsSize) {
    std::string data(10000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7);
    pty.Send(data);
    // The default queue holds 4096 bytes; the rest waits in the device.
    EXPECT_EQ(WaitInQueue(4096), 4096u);
    ASSERT_TRUE(SetupComm(port, 16384, 16384));
    EXPECT_EQ(WaitInQueue(10000), 10000u);
    std::string got(10000, '\0');
    OverlappedCall call;
    DWORD done = 0;
    ASSERT_TRUE(ReadFile(port, got.data(), 10000, &done, &call.ov));
    EXPECT_EQ(done, 10000u);
    EXPECT_EQ(got, data);
    EXPECT_EQ(WaitInQueue(0), 0u);
}

TEST_F(PortCommState, PurgeClearsInputAndAbortsRequests) {
    pty.Send("stale bytes");
    ASSERT_EQ(WaitInQueue(11), 11u);
    ASSERT_TRUE(PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR));
    EXPECT_EQ(WaitInQueue(0), 0u);

    // Aborting works on every thread's requests.
    OverlappedCall read;
    char buf[8];
    DWORD done = 0;
    std::thread([&] {
        ASSERT_FALSE(ReadFile(port, buf, 8, &done, &read.ov));
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    }).join();
    std::vector<char> big(1 << 20, 'p');
    OverlappedCall write;
    ASSERT_FALSE(WriteFile(port, big.data(), static_cast<DWORD>(big.size()), &done, &write.ov));
    ASSERT_TRUE(PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR));
    EXPECT_FALSE(GetOverlappedResult(port, &read.ov, &done, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_FALSE(GetOverlappedResult(port, &write.ov, &done, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_LT(done, big.size());
    EXPECT_FALSE(PurgeComm(port, 0x100));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(PortCommState, PseudoTerminalReportsLinesOnAndNoErrors) {
    DWORD lines = 0;
    ASSERT_TRUE(GetCommModemStatus(port, &lines));
    EXPECT_EQ(lines, MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON);
    DWORD errors = 0xffff;
    COMSTAT stat{};
    ASSERT_TRUE(ClearCommError(port, &errors, &stat));
    EXPECT_EQ(errors, 0u);
    EXPECT_TRUE(EscapeCommFunction(port, SETDTR));
    EXPECT_FALSE(EscapeCommFunction(port, 77));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

struct EventCase {
    const char* name;
    DWORD mask;
    void (*cause)(HANDLE port, Pty& pty);
    DWORD expected;
};

class PortCommEvents : public PortCommState, public ::testing::WithParamInterface<EventCase> {};

TEST_P(PortCommEvents, PendingWaitReportsTheEvent) {
    const auto& c = GetParam();
    ASSERT_TRUE(SetCommMask(port, c.mask));
    OverlappedCall wait;
    DWORD events = 0xdead, done = 0;
    ASSERT_FALSE(WaitCommEvent(port, &events, &wait.ov));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_EQ(WaitForSingleObject(wait.event, 50), WAIT_TIMEOUT);
    c.cause(port, pty);
    ASSERT_EQ(WaitForSingleObject(wait.event, 5000), WAIT_OBJECT_0);
    ASSERT_TRUE(GetOverlappedResult(port, &wait.ov, &done, TRUE));
    EXPECT_EQ(events, c.expected);
}

void SendByte(HANDLE, Pty& pty) {
    pty.Send("x");
}
void WriteBytes(HANDLE port, Pty& pty) {
    OverlappedCall w;
    DWORD done = 0;
    if (!WriteFile(port, "abc", 3, &done, &w.ov))
        GetOverlappedResult(port, &w.ov, &done, TRUE);
    pty.Receive(3);
}
void ClearMask(HANDLE port, Pty&) {
    SetCommMask(port, 0);
}
void DeviceGoes(HANDLE, Pty& pty) {
    pty.HangUp();
}

INSTANTIATE_TEST_SUITE_P(
    Windows, PortCommEvents,
    ::testing::Values(EventCase{"RxChar", EV_RXCHAR | EV_TXEMPTY, SendByte, EV_RXCHAR},
                      EventCase{"TxEmpty", EV_TXEMPTY | EV_CTS, WriteBytes, EV_TXEMPTY},
                      EventCase{"MaskCleared", EV_RXCHAR, ClearMask, 0},
                      EventCase{"LinesDropAtHangUp", EV_CTS | EV_DSR | EV_TXEMPTY, DeviceGoes,
                                EV_CTS | EV_DSR}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortCommState, EventBeforeTheWaitIsReportedAtOnceAndWaitsNeedAMask) {
    DWORD events = 0;
    OverlappedCall wait;
    EXPECT_FALSE(WaitCommEvent(port, &events, &wait.ov));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR));
    pty.Send("y");
    WaitInQueue(1);
    EXPECT_TRUE(WaitCommEvent(port, &events, &wait.ov));
    EXPECT_EQ(events, EV_RXCHAR);
    EXPECT_EQ(WaitForSingleObject(wait.event, 0), WAIT_OBJECT_0);
    // Reported once: the next wait stays pending, and only one may be pending.
    ASSERT_TRUE(ResetEvent(wait.event));
    EXPECT_FALSE(WaitCommEvent(port, &events, &wait.ov));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    OverlappedCall second;
    DWORD other = 0;
    EXPECT_FALSE(WaitCommEvent(port, &other, &second.ov));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    ASSERT_TRUE(CancelIo(port));
    DWORD done = 0;
    EXPECT_FALSE(GetOverlappedResult(port, &wait.ov, &done, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
}

TEST(PortCommStateHandles, NonPortHandlesAreRefused) {
    HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    HANDLE bogus = reinterpret_cast<HANDLE>(uintptr_t{0x7777770});
    for (HANDLE h : {event, bogus, INVALID_HANDLE_VALUE}) {
        DCB dcb{};
        EXPECT_FALSE(GetCommState(h, &dcb));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        DWORD done = 0;
        char b;
        OverlappedCall call;
        EXPECT_FALSE(ReadFile(h, &b, 1, &done, &call.ov));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_FALSE(PurgeComm(h, PURGE_RXCLEAR));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    CloseHandle(event);
}

}  // namespace
}  // namespace porttest
