// Windows error codes: those the port layer answers with and those the
// console names in its messages.
#pragma once

#include "port/win_types.h"

#ifdef _WIN32

// <windows.h> has them as macros, which a qualified name (win::ERROR_...)
// cannot use: here they become constants of the same values, in the global
// namespace as the system's code expects them and in namespace win.

#undef ERROR_SUCCESS
inline constexpr win::DWORD ERROR_SUCCESS = 0;
#undef ERROR_INVALID_FUNCTION
inline constexpr win::DWORD ERROR_INVALID_FUNCTION = 1;
#undef ERROR_FILE_NOT_FOUND
inline constexpr win::DWORD ERROR_FILE_NOT_FOUND = 2;
#undef ERROR_PATH_NOT_FOUND
inline constexpr win::DWORD ERROR_PATH_NOT_FOUND = 3;
#undef ERROR_ACCESS_DENIED
inline constexpr win::DWORD ERROR_ACCESS_DENIED = 5;
#undef ERROR_INVALID_HANDLE
inline constexpr win::DWORD ERROR_INVALID_HANDLE = 6;
#undef ERROR_NOT_ENOUGH_MEMORY
inline constexpr win::DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
#undef ERROR_OUTOFMEMORY
inline constexpr win::DWORD ERROR_OUTOFMEMORY = 14;
#undef ERROR_NOT_READY
inline constexpr win::DWORD ERROR_NOT_READY = 21;
#undef ERROR_BAD_COMMAND
inline constexpr win::DWORD ERROR_BAD_COMMAND = 22;
#undef ERROR_GEN_FAILURE
inline constexpr win::DWORD ERROR_GEN_FAILURE = 31;
#undef ERROR_NOT_SUPPORTED
inline constexpr win::DWORD ERROR_NOT_SUPPORTED = 50;
#undef ERROR_DEV_NOT_EXIST
inline constexpr win::DWORD ERROR_DEV_NOT_EXIST = 55;
#undef ERROR_INVALID_PARAMETER
inline constexpr win::DWORD ERROR_INVALID_PARAMETER = 87;
#undef ERROR_DISK_FULL
inline constexpr win::DWORD ERROR_DISK_FULL = 112;
#undef ERROR_SEM_TIMEOUT
inline constexpr win::DWORD ERROR_SEM_TIMEOUT = 121;
#undef ERROR_INSUFFICIENT_BUFFER
inline constexpr win::DWORD ERROR_INSUFFICIENT_BUFFER = 122;
#undef ERROR_INVALID_NAME
inline constexpr win::DWORD ERROR_INVALID_NAME = 123;
#undef ERROR_MORE_DATA
inline constexpr win::DWORD ERROR_MORE_DATA = 234;
#undef ERROR_OPERATION_ABORTED
inline constexpr win::DWORD ERROR_OPERATION_ABORTED = 995;
#undef ERROR_IO_INCOMPLETE
inline constexpr win::DWORD ERROR_IO_INCOMPLETE = 996;
#undef ERROR_IO_PENDING
inline constexpr win::DWORD ERROR_IO_PENDING = 997;
#undef ERROR_NOACCESS
inline constexpr win::DWORD ERROR_NOACCESS = 998;
#undef ERROR_DEVICE_NOT_CONNECTED
inline constexpr win::DWORD ERROR_DEVICE_NOT_CONNECTED = 1167;
#undef ERROR_TIMEOUT
inline constexpr win::DWORD ERROR_TIMEOUT = 1460;

namespace win {
using ::ERROR_ACCESS_DENIED;
using ::ERROR_BAD_COMMAND;
using ::ERROR_DEV_NOT_EXIST;
using ::ERROR_DEVICE_NOT_CONNECTED;
using ::ERROR_DISK_FULL;
using ::ERROR_FILE_NOT_FOUND;
using ::ERROR_GEN_FAILURE;
using ::ERROR_INSUFFICIENT_BUFFER;
using ::ERROR_INVALID_FUNCTION;
using ::ERROR_INVALID_HANDLE;
using ::ERROR_INVALID_NAME;
using ::ERROR_INVALID_PARAMETER;
using ::ERROR_IO_INCOMPLETE;
using ::ERROR_IO_PENDING;
using ::ERROR_MORE_DATA;
using ::ERROR_NOACCESS;
using ::ERROR_NOT_ENOUGH_MEMORY;
using ::ERROR_NOT_READY;
using ::ERROR_NOT_SUPPORTED;
using ::ERROR_OPERATION_ABORTED;
using ::ERROR_OUTOFMEMORY;
using ::ERROR_PATH_NOT_FOUND;
using ::ERROR_SEM_TIMEOUT;
using ::ERROR_SUCCESS;
using ::ERROR_TIMEOUT;
}  // namespace win

#else

namespace win {

inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_INVALID_FUNCTION = 1;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_OUTOFMEMORY = 14;
inline constexpr DWORD ERROR_NOT_READY = 21;
inline constexpr DWORD ERROR_BAD_COMMAND = 22;
inline constexpr DWORD ERROR_GEN_FAILURE = 31;
inline constexpr DWORD ERROR_NOT_SUPPORTED = 50;
inline constexpr DWORD ERROR_DEV_NOT_EXIST = 55;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_DISK_FULL = 112;
inline constexpr DWORD ERROR_SEM_TIMEOUT = 121;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_INVALID_NAME = 123;
inline constexpr DWORD ERROR_MORE_DATA = 234;
inline constexpr DWORD ERROR_OPERATION_ABORTED = 995;
inline constexpr DWORD ERROR_IO_INCOMPLETE = 996;
inline constexpr DWORD ERROR_IO_PENDING = 997;
inline constexpr DWORD ERROR_NOACCESS = 998;
inline constexpr DWORD ERROR_DEVICE_NOT_CONNECTED = 1167;
inline constexpr DWORD ERROR_TIMEOUT = 1460;

}  // namespace win

#endif  // _WIN32
