// The virtual COM-port driver as its callers see it: device names, control
// codes and the byte layouts of their inputs and outputs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ovrix {

// Device names (after "\\.\").
inline constexpr char kBusDeviceName[] = "KTR_OVRIX_VBUS";
inline constexpr char kDatapipeDeviceName[] = "KTR_Datapipe";
inline constexpr char kBusInterfaceClass[] = "{20161207-6A0C-11D2-B841-00C04FAD5171}";
inline constexpr char kServiceName[] = "Ktr_ovrix";
// Instance ids of virtual ports are this prefix plus the instance name.
inline constexpr char kVcomInstancePrefix[] = "KTR_VBUS\\Ktr_vcom\\";

// CTL_CODE(0x1612, function, METHOD_BUFFERED, access).
constexpr uint32_t ControlCode(uint32_t function, uint32_t access) {
    return (0x1612u << 16) | (access << 14) | (function << 2);
}
// The access a control code asks of the handle: 1 read, 2 write.
constexpr uint32_t RequiredAccess(uint32_t code) {
    return (code >> 14) & 3;
}

inline constexpr uint32_t IOCTL_OVRIX_GetVersion = ControlCode(0xC01, 0);
inline constexpr uint32_t IOCTL_OVRIX_GetUsbdDevinstpath = ControlCode(0xC15, 0);
inline constexpr uint32_t IOCTL_OVRIX_QueryVcomFdoPdo = ControlCode(0xC1B, 1);
inline constexpr uint32_t IOCTL_OVRIX_VbusReadTest = ControlCode(0xC1F, 1);
inline constexpr uint32_t IOCTL_OVRIX_VbusWriteTest = ControlCode(0xC1E, 2);
inline constexpr uint32_t IOCTL_OVRIX_UnplugAllVcoms = ControlCode(0xC08, 2);
inline constexpr uint32_t IOCTL_OVRIX_ReinstallVbus = ControlCode(0xC09, 2);
inline constexpr uint32_t IOCTL_VCOM_OneTimeTemporalLifemode_Enable = ControlCode(0xD01, 2);
inline constexpr uint32_t IOCTL_VCOM_OneTimeTemporalLifemode_Disable = ControlCode(0xD00, 2);
inline constexpr uint32_t IOCTL_VCOM_OneTimeTemporalLifemode_Query = ControlCode(0xD02, 1);
inline constexpr uint32_t IOCTL_VCOM_GetDeviceState = ControlCode(0xD04, 1);

static_assert(IOCTL_OVRIX_GetVersion == 0x16123004);
static_assert(IOCTL_OVRIX_GetUsbdDevinstpath == 0x16123054);
static_assert(IOCTL_OVRIX_QueryVcomFdoPdo == 0x1612706C);
static_assert(IOCTL_OVRIX_VbusReadTest == 0x1612707C);
static_assert(IOCTL_OVRIX_VbusWriteTest == 0x1612B078);
static_assert(IOCTL_OVRIX_UnplugAllVcoms == 0x1612B020);
static_assert(IOCTL_OVRIX_ReinstallVbus == 0x1612B024);
static_assert(IOCTL_VCOM_OneTimeTemporalLifemode_Enable == 0x1612B404);
static_assert(IOCTL_VCOM_OneTimeTemporalLifemode_Disable == 0x1612B400);
static_assert(IOCTL_VCOM_OneTimeTemporalLifemode_Query == 0x16127408);
static_assert(IOCTL_VCOM_GetDeviceState == 0x16127410);

// Windows error codes the driver answers with.
inline constexpr uint32_t kErrorInvalidFunction = 1;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint32_t kErrorDeviceNotConnected = 1167;

// Lifemodes of a virtual port.
enum class Lifemode : uint32_t { Temporal = 0, Friendly = 1, Persistent = 2 };

// IOCTL_OVRIX_GetVersion output.
struct VersionInfo {
    uint32_t major;
    uint32_t minor;
    uint32_t patch;
    uint8_t reserved[168];
};

// IOCTL_OVRIX_GetUsbdDevinstpath output: a zero-ended wide path.
inline constexpr size_t kDevinstpathChars = 260;

// IOCTL_OVRIX_QueryVcomFdoPdo input (instance name, wide, zero-ended) and output.
inline constexpr size_t kQueryVcomInputBytes = 256;
struct VcomFdoPdo {
    char16_t portName[16];
    char16_t correctLinkTarget[40];
    char16_t secondDeviceName[40];
    char16_t kernelLinkTarget[40];
};

// IOCTL_VCOM_GetDeviceState output.
struct DeviceState {
    uint32_t reserved0;
    uint32_t lifemode;      // Lifemode
    uint32_t isUsbdOnline;  // 1 while the USB device behind the port is present
    uint32_t reserved1;
    uint64_t uemsecUsbdLastOnline;   // ms since 1970-01-01 UTC, 0 = never
    uint64_t uemsecUsbdLastOffline;  // ms since 1970-01-01 UTC, 0 = never
    char16_t szVcomDevinstpath[kDevinstpathChars];
    char16_t szUsbdDevinstpath[kDevinstpathChars];
};

static_assert(sizeof(VersionInfo) == 180);
static_assert(sizeof(VcomFdoPdo) == 272);
static_assert(offsetof(VcomFdoPdo, correctLinkTarget) == 32);
static_assert(offsetof(VcomFdoPdo, secondDeviceName) == 112);
static_assert(offsetof(VcomFdoPdo, kernelLinkTarget) == 192);
static_assert(sizeof(DeviceState) == 1072);
static_assert(offsetof(DeviceState, lifemode) == 4);
static_assert(offsetof(DeviceState, isUsbdOnline) == 8);
static_assert(offsetof(DeviceState, uemsecUsbdLastOnline) == 16);
static_assert(offsetof(DeviceState, uemsecUsbdLastOffline) == 24);
static_assert(offsetof(DeviceState, szVcomDevinstpath) == 32);
static_assert(offsetof(DeviceState, szUsbdDevinstpath) == 552);

}  // namespace ovrix
