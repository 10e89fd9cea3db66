// ReadFile, WriteFile and their completion-routine forms, comm-event waits,
// GetOverlappedResult and CancelIo.
#include <unordered_map>

#include "device.h"

namespace win {

namespace detail {
void RegisterPendingLocked(const std::shared_ptr<Request>& request);
std::shared_ptr<Request> FindPendingLocked(OVERLAPPED* overlapped);
}  // namespace detail

using namespace detail;

namespace {

struct Issue {
    Request::Kind kind;
    void* readBuffer = nullptr;
    const void* writeBuffer = nullptr;
    DWORD length = 0;
    DWORD* eventMaskOut = nullptr;
    DWORD* doneOut = nullptr;
    OVERLAPPED* overlapped = nullptr;
    LPOVERLAPPED_COMPLETION_ROUTINE completion = nullptr;
};

std::shared_ptr<Request> MakeRequest(const Issue& issue) {
    auto request = std::make_shared<Request>();
    request->kind = issue.kind;
    request->overlapped = issue.overlapped;
    request->issuer = std::this_thread::get_id();
    request->completion = issue.completion;
    request->userBuffer = issue.readBuffer;
    request->eventMaskOut = issue.eventMaskOut;
    request->length = issue.length;
    if (issue.kind == Request::Kind::Read)
        request->data.resize(issue.length);
    if (issue.kind == Request::Kind::Write) {
        // The bytes are taken at once, so the caller may reuse its buffer.
        auto* bytes = static_cast<const BYTE*>(issue.writeBuffer);
        request->data.assign(bytes, bytes + issue.length);
    }
    // Completion-routine requests leave hEvent to the caller.
    if (issue.overlapped != nullptr && issue.completion == nullptr &&
        issue.overlapped->hEvent != nullptr) {
        request->event = LookupAs<EventObject>(issue.overlapped->hEvent);
    }
    return request;
}

void QueueLocked(SerialPort& port, const std::shared_ptr<Request>& request) {
    switch (request->kind) {
        case Request::Kind::Read:
            port.reads.push_back(request);
            break;
        case Request::Kind::Write:
            port.writes.push_back(request);
            break;
        case Request::Kind::CommEvent:
            port.commWait = request;
            break;
    }
}

BOOL Answer(const std::shared_ptr<Request>& request, DWORD* doneOut) {
    if (doneOut != nullptr)
        *doneOut = request->moved;
    if (request->error != ERROR_SUCCESS)
        return Fail(request->error, FALSE);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

// Issues a request on a port: it is served at once as far as the device
// allows; what cannot end now stays pending for the port's I/O thread.
BOOL IssueRequest(HANDLE handle, const Issue& issue) {
    auto port = LookupAs<SerialPort>(handle);
    if (!port) {
        if (LookupAs<Device>(handle))
            return Fail(ERROR_INVALID_FUNCTION, FALSE);
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    }
    if (issue.kind == Request::Kind::Read && !port->canRead)
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (issue.kind == Request::Kind::Write && !port->canWrite)
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (issue.length > 0 && issue.readBuffer == nullptr && issue.writeBuffer == nullptr &&
        issue.kind != Request::Kind::CommEvent)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (port->overlappedMode && issue.overlapped == nullptr)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);

    auto request = MakeRequest(issue);
    std::unique_lock lock(DispatcherLock());
    if (port->closing)
        return Fail(ERROR_INVALID_HANDLE, FALSE);  // closed on another thread
    if (issue.kind == Request::Kind::CommEvent) {
        if (port->eventMask == 0 || port->commWait)
            return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    if (port->gone) {
        if (issue.kind != Request::Kind::CommEvent || (port->eventHistory & port->eventMask) == 0)
            return Fail(ERROR_DEVICE_NOT_CONNECTED, FALSE);
    }
    if (request->event)
        request->event->signaled = false;
    request->timeouts = port->timeouts;
    RegisterPendingLocked(request);
    QueueLocked(*port, request);
    port->ServiceLocked();
    // A request that ended here needs no other thread; one still pending may
    // need the I/O thread to watch for bytes, room or a time-out it does not
    // watch yet.
    port->WakeIfNeededLocked();
    if (!request->ended)
        NoteOwnPendingRequestLocked(port);
    if (!request->ended && !port->overlappedMode)
        WaitRequestLocked(lock, request);
    if (request->ended)
        return Answer(request, issue.doneOut);
    if (issue.doneOut != nullptr)
        *issue.doneOut = 0;
    return Fail(ERROR_IO_PENDING, FALSE);
}

}  // namespace

BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
              OVERLAPPED* overlapped) {
    return IssueRequest(file, {Request::Kind::Read, buffer, nullptr, bytesToRead, nullptr,
                               bytesRead, overlapped, nullptr});
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
               OVERLAPPED* overlapped) {
    return IssueRequest(file, {Request::Kind::Write, nullptr, buffer, bytesToWrite, nullptr,
                               bytesWritten, overlapped, nullptr});
}

BOOL ReadFileEx(HANDLE file, void* buffer, DWORD bytesToRead, OVERLAPPED* overlapped,
                LPOVERLAPPED_COMPLETION_ROUTINE completion) {
    if (overlapped == nullptr || completion == nullptr)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    NoteApcThread();
    BOOL ok = IssueRequest(file, {Request::Kind::Read, buffer, nullptr, bytesToRead, nullptr,
                                  nullptr, overlapped, completion});
    // Queued or ended at once, the routine will run; only a refusal fails.
    if (!ok && GetLastError() == ERROR_IO_PENDING)
        return TRUE;
    return ok;
}

BOOL WriteFileEx(HANDLE file, const void* buffer, DWORD bytesToWrite, OVERLAPPED* overlapped,
                 LPOVERLAPPED_COMPLETION_ROUTINE completion) {
    if (overlapped == nullptr || completion == nullptr)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    NoteApcThread();
    BOOL ok = IssueRequest(file, {Request::Kind::Write, nullptr, buffer, bytesToWrite, nullptr,
                                  nullptr, overlapped, completion});
    if (!ok && GetLastError() == ERROR_IO_PENDING)
        return TRUE;
    return ok;
}

BOOL WaitCommEvent(HANDLE file, DWORD* eventMask, OVERLAPPED* overlapped) {
    if (eventMask == nullptr)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    return IssueRequest(file, {Request::Kind::CommEvent, nullptr, nullptr, 0, eventMask, nullptr,
                               overlapped, nullptr});
}

BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* overlapped, DWORD* bytesTransferred, BOOL wait) {
    if (overlapped == nullptr || bytesTransferred == nullptr)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    // Like Windows, the record alone tells the outcome: the handle may be
    // closed already (closing it ended the request).
    (void)file;
    std::unique_lock lock(DispatcherLock());
    if (auto request = FindPendingLocked(overlapped); request && !request->ended) {
        if (!wait)
            return Fail(ERROR_IO_INCOMPLETE, FALSE);
        WaitRequestLocked(lock, request);
    }
    *bytesTransferred = static_cast<DWORD>(overlapped->InternalHigh);
    if (overlapped->Internal == STATUS_PENDING)
        return Fail(ERROR_IO_INCOMPLETE, FALSE);
    if (overlapped->Internal != ERROR_SUCCESS)
        return Fail(static_cast<DWORD>(overlapped->Internal), FALSE);
    return TRUE;
}

BOOL CancelIo(HANDLE file) {
    auto device = LookupAs<Device>(file);
    if (!device)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    auto port = std::dynamic_pointer_cast<SerialPort>(device);
    if (!port)
        return TRUE;  // control endpoints end every request within the call
    const auto me = std::this_thread::get_id();
    std::lock_guard guard(DispatcherLock());
    auto cancelMine = [&](std::deque<std::shared_ptr<Request>>& queue) {
        for (auto it = queue.begin(); it != queue.end();) {
            if ((*it)->issuer == me) {
                EndRequestLocked(*it, ERROR_OPERATION_ABORTED);
                it = queue.erase(it);
            } else {
                ++it;
            }
        }
    };
    cancelMine(port->reads);
    cancelMine(port->writes);
    if (port->commWait && port->commWait->issuer == me) {
        EndRequestLocked(port->commWait, ERROR_OPERATION_ABORTED);
        port->commWait.reset();
    }
    port->Wake();
    return TRUE;
}

}  // namespace win
