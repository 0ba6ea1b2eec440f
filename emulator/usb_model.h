// A USB device as the emulated bus sees it: descriptors, one interface with
// alternate settings, endpoints, control requests and pipe transfers. Camera
// models implement this (usually through CUsbModelBase) and are reached
// in-process, through the emulated WinUsb.dll, or through the emulated bus.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

#include "emulator/fault_injector.h"

namespace orvo::emu {

enum : uint8_t { kPipeControl = 0, kPipeIsochronous = 1, kPipeBulk = 2, kPipeInterrupt = 3 };

struct EndpointInfo {
    uint8_t address = 0;  // bit 7: IN
    uint8_t type = kPipeBulk;
    uint16_t maxPacketSize = 512;
    uint8_t interval = 0;
    uint32_t bytesPerInterval = 0;  // isochronous: bytes per service interval
};

struct InterfaceSetting {
    uint8_t alternate = 0;
    std::vector<EndpointInfo> endpoints;
};

struct SetupPacket {
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;
};

enum class UsbStatus {
    Ok,
    Pending,  // nothing to deliver yet: the transfer waits
    Stall,
    NoDevice,
};

struct IsoPacket {
    uint32_t offset = 0;
    uint32_t length = 0;
    int32_t status = 0;
};

class IUsbDeviceModel {
public:
    virtual ~IUsbDeviceModel() = default;

    virtual void DeviceDescriptor(uint8_t out[18]) = 0;
    // The whole string descriptor (header included); false when absent.
    virtual bool StringDescriptor(uint8_t index, uint16_t language, std::vector<uint8_t>& out) = 0;
    virtual std::vector<InterfaceSetting> Settings() = 0;
    virtual uint32_t MaxTransferSize(uint8_t endpoint) = 0;

    virtual UsbStatus Control(const SetupPacket& setup, uint8_t* data, uint32_t length, uint32_t* moved) = 0;
    virtual UsbStatus WriteOut(uint8_t endpoint, const uint8_t* data, uint32_t length, uint32_t* moved) = 0;
    // A bulk or interrupt IN transfer; ends at `length` or at the end of the
    // device's current transfer, whichever comes first.
    virtual UsbStatus ReadIn(uint8_t endpoint, uint8_t* data, uint32_t length, uint32_t* moved) = 0;
    // Fills packetCount packets of packetSize bytes (packet i at i * packetSize);
    // Pending when the device has nothing queued at all.
    virtual UsbStatus ReadIsoch(uint8_t endpoint, uint8_t* data, uint32_t packetSize, uint32_t packetCount,
                                IsoPacket* packets) = 0;

    virtual CFaultInjector& Faults() = 0;
    virtual bool IsConnected() = 0;
    virtual void Unplug() = 0;
    // Events the model signals when it has something new for waiting transfers.
    virtual void AddWaker(HANDLE event) = 0;
    virtual void RemoveWaker(HANDLE event) = 0;
    // The bus reports each transfer it queues (+1) and completes (-1).
    virtual void OnTransferCount(uint8_t endpoint, int delta) = 0;
    // The host did something real hardware would punish silently, such as
    // handing out an OVERLAPPED or a buffer still owned by a transfer in flight.
    virtual void OnHostError(const char* what) = 0;
    // The bus reports each isochronous read it accepts and whether the host
    // asked it to continue the stream of the reads before it.
    virtual void OnIsochRead(uint8_t endpoint, bool continueStream) = 0;
};

// Builds a string descriptor from text.
std::vector<uint8_t> MakeStringDescriptor(const std::wstring& text);

}  // namespace orvo::emu
