// The calling thread's last Windows error, as the console's port operations
// leave it, and the error codes the console names in its messages.
#pragma once

#include <cstdint>

namespace win {

using DWORD = uint32_t;

DWORD GetLastError();
void SetLastError(DWORD code);

// Codes the console prints by name (see WinErrName).
namespace error_code {
inline constexpr DWORD kSuccess = 0;
inline constexpr DWORD kInvalidFunction = 1;
inline constexpr DWORD kFileNotFound = 2;
inline constexpr DWORD kPathNotFound = 3;
inline constexpr DWORD kAccessDenied = 5;
inline constexpr DWORD kInvalidHandle = 6;
inline constexpr DWORD kNotEnoughMemory = 8;
inline constexpr DWORD kOutOfMemory = 14;
inline constexpr DWORD kNotReady = 21;
inline constexpr DWORD kBadCommand = 22;
inline constexpr DWORD kGenFailure = 31;
inline constexpr DWORD kDevNotExist = 55;
inline constexpr DWORD kInvalidParameter = 87;
inline constexpr DWORD kDiskFull = 112;
inline constexpr DWORD kSemTimeout = 121;
inline constexpr DWORD kInsufficientBuffer = 122;
inline constexpr DWORD kInvalidName = 123;
inline constexpr DWORD kOperationAborted = 995;
inline constexpr DWORD kIoPending = 997;
inline constexpr DWORD kNoAccess = 998;
inline constexpr DWORD kDeviceNotConnected = 1167;
inline constexpr DWORD kTimeout = 1460;
}  // namespace error_code

}  // namespace win
