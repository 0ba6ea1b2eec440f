// The I/O control contract of the orvoUsb driver, as its clients see it.
#pragma once
#include <windows.h>
#include <winioctl.h>
#include <cstddef>
#include <cstdint>

namespace orvo {

// {57636BB2-4BD1-46FE-AAA7-8B427E51D425}
constexpr GUID kOrvoUsbInterfaceClass = {0x57636BB2, 0x4BD1, 0x46FE, {0xAA, 0xA7, 0x8B, 0x42, 0x7E, 0x51, 0xD4, 0x25}};
// GUID_DEVINTERFACE_USB_DEVICE: cameras bound to WinUSB.
constexpr GUID kUsbDeviceInterfaceClass = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

constexpr DWORD IOCTL_ORVOUSB_GET_CONFIG_DESCRIPTOR = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x80, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD IOCTL_ORVOUSB_RESET_DEVICE = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x81, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD IOCTL_ORVOUSB_RESET_PIPE = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x82, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD IOCTL_ORVOUSB_GET_DESCRIPTOR = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x83, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr DWORD IOCTL_ORVOUSB_CONTROL_IN = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x85, METHOD_OUT_DIRECT, FILE_ANY_ACCESS);
constexpr DWORD IOCTL_ORVOUSB_CONTROL_OUT = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x86, METHOD_IN_DIRECT, FILE_ANY_ACCESS);

static_assert(IOCTL_ORVOUSB_GET_CONFIG_DESCRIPTOR == 0x220200, "I/O control code");
static_assert(IOCTL_ORVOUSB_RESET_DEVICE == 0x220204, "I/O control code");
static_assert(IOCTL_ORVOUSB_RESET_PIPE == 0x220208, "I/O control code");
static_assert(IOCTL_ORVOUSB_GET_DESCRIPTOR == 0x22020C, "I/O control code");
static_assert(IOCTL_ORVOUSB_CONTROL_IN == 0x220216, "I/O control code");
static_assert(IOCTL_ORVOUSB_CONTROL_OUT == 0x220219, "I/O control code");

#pragma pack(push, 1)
struct OrvoUsbDescriptorRequest {
    uint8_t descriptorType;
    uint8_t index;
    uint16_t languageId;
};
struct OrvoUsbControlRequest {
    uint8_t type;  // 1 class, 2 vendor
    uint8_t recipient;
    uint8_t reserved;
    uint8_t request;
    uint16_t value;
    uint16_t index;
};
#pragma pack(pop)
static_assert(sizeof(OrvoUsbDescriptorRequest) == 4, "wire layout");
static_assert(offsetof(OrvoUsbDescriptorRequest, languageId) == 2, "wire layout");
static_assert(sizeof(OrvoUsbControlRequest) == 8, "wire layout");
static_assert(offsetof(OrvoUsbControlRequest, request) == 3, "wire layout");
static_assert(offsetof(OrvoUsbControlRequest, value) == 4, "wire layout");
static_assert(offsetof(OrvoUsbControlRequest, index) == 6, "wire layout");

}  // namespace orvo
