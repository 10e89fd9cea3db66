#include "read_com_thread.h"

#include <algorithm>
#include <vector>

#include "console_log.h"
#include "fmtx.h"
#include "port/win_port.h"
#include "port/win_port_errors.h"

namespace vantrel::echo {

using namespace win;

namespace {

constexpr int32_t kReadComStack = 256 * 1024;
enum ReadResult { kGotBytes = 0, kGotError = 1, kGotQuit = 2 };

}  // namespace

ReadComWorker::ReadComWorker(HANDLE port, uint32_t readSize)
    // A read of no bytes would end at once, forever: read at least one.
    : port_(port), readSize_(std::max<uint32_t>(readSize, 1)) {
    quitEvent_ = CreateEvent(nullptr, TRUE, FALSE, nullptr);
}

ReadComWorker::~ReadComWorker() {
    if (thread_)
        Stop();
    CloseHandle(quitEvent_);
}

std::unique_ptr<ReadComWorker> ReadComWorker::Start(HANDLE port, uint32_t readSize) {
    std::unique_ptr<ReadComWorker> worker(new ReadComWorker(port, readSize));
    worker->thread_ = log::StartThread(ThreadMain, worker.get(), kReadComStack);
    if (!worker->thread_)
        return nullptr;
    return worker;
}

void ReadComWorker::Stop() {
    quit_ = true;
    SetEvent(quitEvent_);
    if (thread_)
        log::JoinThread(*thread_);
    thread_.reset();
}

uint32_t ReadComWorker::ThreadMain(void* self) {
    log::ClaimThreadRole(log::ThreadRole::kReadCom);
    static_cast<ReadComWorker*>(self)->Loop();
    log::ReleaseThreadRole(log::ThreadRole::kReadCom);
    return 0;
}

int ReadComWorker::ReadOnce(uint8_t* buffer, HANDLE readEvent, DWORD& got) {
    if (quit_)
        return kGotQuit;
    OVERLAPPED overlapped{};
    overlapped.hEvent = readEvent;
    got = 0;
    if (ReadFile(port_, buffer, readSize_, &got, &overlapped))
        return kGotBytes;
    if (GetLastError() != ERROR_IO_PENDING) {
        log::PrintTickLineWinErr(0, "ReadComThread: ReadFile() sync fail.");
        return kGotError;
    }
    const HANDLE waits[2] = {readEvent, quitEvent_};
    const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (woke == WAIT_OBJECT_0) {
        if (GetOverlappedResult(port_, &overlapped, &got, TRUE))
            return kGotBytes;
        log::PrintTickLineWinErr(0, "ReadComThread: ReadFile() async fail.");
        return kGotError;
    }
    if (woke == WAIT_OBJECT_0 + 1) {
        if (!CancelIo(port_))
            log::PrintTickLineWinErr(0, "ReadComThread: CancelIO() got fail.");
        if (GetOverlappedResult(port_, &overlapped, &got, TRUE))
            return kGotBytes;
        // Our own cancel ending the read is the quit we asked for, not an error.
        if (GetLastError() == ERROR_OPERATION_ABORTED)
            return kGotQuit;
        log::PrintTickLineWinErr(0, "ReadComThread: ReadFile() async fail after CancelIO.");
        return kGotError;
    }
    log::PrintTickLineWinErr(0, "ReadComThread: WaitForMultipleObjects() fail.");
    return kGotError;
}

void ReadComWorker::Loop() {
    std::vector<uint8_t> buffer(readSize_, 0);
    HANDLE readEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    for (;;) {
        DWORD got = 0;
        const int result = ReadOnce(buffer.data(), readEvent, got);
        if (result == kGotBytes) {
            log::PrintTickLine("ReadComThread: Got %d bytes.", static_cast<int>(got));
            continue;
        }
        log::PrintTickLine(result == kGotError ? "ReadComThread: Got error."
                                               : "ReadComThread: Got quit signal.");
        break;
    }
    CloseHandle(readEvent);
}

void ReadComKeys::Key(HANDLE port, uint32_t readSize, const std::function<int()>& readKey) {
    if (running_) {
        fmtx_printf("Stop ReadCom thread?(y/N)");
        const int key = readKey();
        fmtx_printf("%c\n", key < 0 ? ' ' : key);
        if (key == 'y' || key == 'Y') {
            worker_->Stop();
            worker_.reset();
            running_ = false;
        }
        return;
    }
    worker_ = ReadComWorker::Start(port, readSize);
    if (worker_) {
        log::PrintClockLineMs("ReadCom-thread created success.");
        running_ = true;
    } else {
        log::PrintClockLineMs("ReadCom-thread creation fail.");
    }
}

}  // namespace vantrel::echo
