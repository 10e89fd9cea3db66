// On Windows: the system's own calls, named in namespace win (below).
// Elsewhere: Windows serial semantics over Linux ttys: handles, events, overlapped
// requests, alertable waits, comm state and events, and control requests to
// the virtual bus daemon. Every failing call leaves a Windows error code in
// the calling thread's last error and answers FALSE (or the invalid handle,
// WAIT_FAILED).
//
// Port paths: "COM1".."COM9" and "\\.\COM<n>" resolve through dosdevices/ of
// the runtime namespace (a bare name above COM9 is not found, as on Windows);
// "\\.\KTR_Datapipe" is vbus/datapipe; "\\.\KTR_OVRIX_VBUS" and the bus
// interface path are the daemon's control socket; any other text is a Linux
// path. Ports open exclusively: a second open answers ERROR_ACCESS_DENIED.
//
// When the device goes away (hang-up) pending and later reads, writes and
// comm-event waits end with ERROR_DEVICE_NOT_CONNECTED, the code a removed
// USB serial port answers; a pending comm-event wait whose mask holds modem
// line events first reports the lines dropping.
#pragma once

#include "port/win_types.h"

#ifdef _WIN32

// On Windows the calls are the system's own. CreateFile and CreateEvent take
// the console's narrow texts: the ANSI forms, whatever UNICODE says.
#undef CreateFile
#undef CreateEvent

namespace win {

using ::CancelIo;
using ::ClearCommBreak;
using ::ClearCommError;
using ::CloseHandle;
using ::CreateThread;
using ::DeviceIoControl;
using ::EscapeCommFunction;
using ::GetCommMask;
using ::GetCommModemStatus;
using ::GetCommState;
using ::GetCommTimeouts;
using ::GetExitCodeThread;
using ::GetLastError;
using ::GetOverlappedResult;
using ::PurgeComm;
using ::ReadFile;
using ::ReadFileEx;
using ::ResetEvent;
using ::SetCommBreak;
using ::SetCommMask;
using ::SetCommState;
using ::SetCommTimeouts;
using ::SetEvent;
using ::SetLastError;
using ::SetupComm;
using ::Sleep;
using ::SleepEx;
using ::WaitCommEvent;
using ::WaitForMultipleObjects;
using ::WaitForMultipleObjectsEx;
using ::WaitForSingleObject;
using ::WaitForSingleObjectEx;
using ::WriteFile;
using ::WriteFileEx;

inline HANDLE CreateFile(const char* path, DWORD desiredAccess, DWORD shareMode,
                         void* securityAttributes, DWORD creationDisposition,
                         DWORD flagsAndAttributes, HANDLE templateFile) {
    return ::CreateFileA(path, desiredAccess, shareMode,
                         static_cast<SECURITY_ATTRIBUTES*>(securityAttributes), creationDisposition,
                         flagsAndAttributes, templateFile);
}

inline HANDLE CreateEvent(void* securityAttributes, BOOL manualReset, BOOL initialState,
                          const char* name) {
    return ::CreateEventA(static_cast<SECURITY_ATTRIBUTES*>(securityAttributes), manualReset,
                          initialState, name);
}

// Device path of the virtual bus interface while its driver is loaded ("" otherwise),
// found through the device-interface enumeration.
const char* VbusInterfacePath();

}  // namespace win

#else

namespace win {

// The calling thread's last error, as Windows keeps it.
DWORD GetLastError();
void SetLastError(DWORD code);

// Objects and waits.
HANDLE CreateEvent(void* securityAttributes, BOOL manualReset, BOOL initialState, const char* name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
BOOL CloseHandle(HANDLE object);
HANDLE CreateThread(void* securityAttributes, size_t stackSize, LPTHREAD_START_ROUTINE start,
                    void* parameter, DWORD creationFlags, DWORD* threadId);
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
DWORD WaitForSingleObjectEx(HANDLE object, DWORD milliseconds, BOOL alertable);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD milliseconds);
DWORD WaitForMultipleObjectsEx(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD milliseconds,
                               BOOL alertable);
// Runs the calling thread's queued completion routines when alertable.
DWORD SleepEx(DWORD milliseconds, BOOL alertable);
void Sleep(DWORD milliseconds);

// Files and requests.
HANDLE CreateFile(const char* path, DWORD desiredAccess, DWORD shareMode, void* securityAttributes,
                  DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
              OVERLAPPED* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
               OVERLAPPED* overlapped);
BOOL ReadFileEx(HANDLE file, void* buffer, DWORD bytesToRead, OVERLAPPED* overlapped,
                LPOVERLAPPED_COMPLETION_ROUTINE completion);
BOOL WriteFileEx(HANDLE file, const void* buffer, DWORD bytesToWrite, OVERLAPPED* overlapped,
                 LPOVERLAPPED_COMPLETION_ROUTINE completion);
BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* overlapped, DWORD* bytesTransferred, BOOL wait);
// Ends the calling thread's requests on the handle with ERROR_OPERATION_ABORTED
// and the bytes moved so far; their buffers are not touched after it returns.
BOOL CancelIo(HANDLE file);
BOOL DeviceIoControl(HANDLE device, DWORD controlCode, const void* inBuffer, DWORD inSize,
                     void* outBuffer, DWORD outSize, DWORD* bytesReturned, OVERLAPPED* overlapped);

// Serial communication.
BOOL GetCommState(HANDLE file, DCB* dcb);
BOOL SetCommState(HANDLE file, const DCB* dcb);
BOOL GetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts);
BOOL SetCommTimeouts(HANDLE file, const COMMTIMEOUTS* timeouts);
BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue);
BOOL PurgeComm(HANDLE file, DWORD flags);
BOOL ClearCommError(HANDLE file, DWORD* errors, COMSTAT* stat);
BOOL GetCommModemStatus(HANDLE file, DWORD* modemStatus);
BOOL SetCommMask(HANDLE file, DWORD mask);
BOOL GetCommMask(HANDLE file, DWORD* mask);
BOOL WaitCommEvent(HANDLE file, DWORD* eventMask, OVERLAPPED* overlapped);
BOOL EscapeCommFunction(HANDLE file, DWORD function);
BOOL SetCommBreak(HANDLE file);
BOOL ClearCommBreak(HANDLE file);

// Device path of the virtual bus interface while the daemon's control socket
// is present ("" otherwise): what a device-interface enumeration would find.
const char* VbusInterfacePath();

}  // namespace win

#endif  // _WIN32
