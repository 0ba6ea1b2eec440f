// The emulated WinUsb.dll: the WinUSB calls of the camera library, served by
// the emulated device behind the file handle given to WinUsb_Initialize.
#include <windows.h>
#include <winusb.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "emulator/model_factory.h"
#include "emulator/winusb/emu_interface.h"
#include "win32/critical_section.h"
#include "win32/unique_handle.h"

using orvo::emu::CEmuInterface;
using orvo::emu::IUsbDeviceModel;

namespace {

struct IsochBuffer {
    std::shared_ptr<CEmuInterface> owner;
    uint8_t pipe = 0;
    uint8_t* data = nullptr;
    ULONG length = 0;
};

// Handles are checked against these tables, so a stale or foreign handle is
// refused instead of followed.
struct Registry {
    orvo::win32::CriticalSection lock;
    std::map<void*, std::shared_ptr<CEmuInterface>> interfaces;
    std::map<void*, std::shared_ptr<IsochBuffer>> isochBuffers;
    std::map<std::wstring, IUsbDeviceModel*> attached;
};

// Never destroyed: at process exit the interfaces' threads were terminated
// wherever they stood, and tearing the interfaces down would wait for them
// and take their locks. The system reclaims everything anyway.
Registry& TheRegistry() {
    static Registry* registry = new Registry;
    return *registry;
}

std::shared_ptr<CEmuInterface> FindInterface(void* handle) {
    Registry& r = TheRegistry();
    orvo::win32::CriticalSectionLock lock(r.lock);
    auto it = r.interfaces.find(handle);
    if (it != r.interfaces.end()) return it->second;
    ::SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

std::shared_ptr<IsochBuffer> FindIsochBuffer(void* handle) {
    Registry& r = TheRegistry();
    orvo::win32::CriticalSectionLock lock(r.lock);
    auto it = r.isochBuffers.find(handle);
    if (it != r.isochBuffers.end()) return it->second;
    ::SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

// The description file behind the device path (opened for overlapped I/O).
bool ReadDescription(HANDLE file, std::string& text) {
    orvo::win32::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) return false;
    char buffer[8192];
    OVERLAPPED overlapped{};
    overlapped.hEvent = event.get();
    DWORD n = 0;
    if (!::ReadFile(file, buffer, sizeof(buffer), &n, &overlapped)) {
        if (::GetLastError() != ERROR_IO_PENDING || !::GetOverlappedResult(file, &overlapped, &n, TRUE)) return false;
    }
    text.assign(buffer, std::min<DWORD>(n, sizeof(buffer)));
    return true;
}

// Transfers without an OVERLAPPED wait for their own.
template <class Submit>
BOOL RunTransfer(CEmuInterface& iface, LPOVERLAPPED overlapped, PULONG transferred, Submit submit) {
    if (overlapped) return submit(overlapped) ? TRUE : FALSE;
    orvo::win32::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED own{};
    own.hEvent = event.get();
    if (!event || (!submit(&own) && ::GetLastError() != ERROR_IO_PENDING)) return FALSE;
    ::WaitForSingleObject(event.get(), INFINITE);
    (void)iface;
    if (transferred) *transferred = ULONG(own.InternalHigh);
    if (own.Internal != 0) {
        ::SetLastError(orvo::emu::Win32ErrorFromStatus(own.Internal));
        return FALSE;
    }
    return TRUE;
}

}  // namespace

extern "C" {

// Lets a test reach its own model object through the DLL: a description
// "attach=<name>" names it.
__declspec(dllexport) BOOL OrvoEmu_AttachModel(const wchar_t* name, IUsbDeviceModel* model) {
    if (!name || !model) return FALSE;
    Registry& r = TheRegistry();
    orvo::win32::CriticalSectionLock lock(r.lock);
    r.attached[name] = model;
    return TRUE;
}

__declspec(dllexport) BOOL OrvoEmu_DetachModel(const wchar_t* name) {
    if (!name) return FALSE;
    Registry& r = TheRegistry();
    orvo::win32::CriticalSectionLock lock(r.lock);
    return r.attached.erase(name) ? TRUE : FALSE;
}

WINBOOL WINAPI WinUsb_Initialize(HANDLE DeviceHandle, PWINUSB_INTERFACE_HANDLE InterfaceHandle) {
    if (!InterfaceHandle || DeviceHandle == INVALID_HANDLE_VALUE || !DeviceHandle) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::string text;
    if (!ReadDescription(DeviceHandle, text)) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const orvo::emu::DeviceSettings settings = orvo::emu::ParseDeviceSettings(text);
    std::shared_ptr<CEmuInterface> iface;
    auto attach = settings.find("attach");
    Registry& r = TheRegistry();
    if (attach != settings.end()) {
        orvo::win32::CriticalSectionLock lock(r.lock);
        auto it = r.attached.find(std::wstring(attach->second.begin(), attach->second.end()));
        if (it != r.attached.end()) iface = std::make_shared<CEmuInterface>(*it->second, nullptr);
    } else if (auto model = orvo::emu::CreateModel(settings)) {
        IUsbDeviceModel& ref = *model;
        iface = std::make_shared<CEmuInterface>(ref, std::move(model));
    }
    if (auto unplug = settings.find("unplug_event"); iface && unplug != settings.end()) {
        const std::wstring name(unplug->second.begin(), unplug->second.end());
        iface->WatchUnplug(::CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
    }
    if (!iface || !iface->Start()) {
        ::SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    orvo::win32::CriticalSectionLock lock(r.lock);
    r.interfaces[iface.get()] = iface;
    *InterfaceHandle = iface.get();
    return TRUE;
}

WINBOOL WINAPI WinUsb_Free(WINUSB_INTERFACE_HANDLE InterfaceHandle) {
    std::shared_ptr<CEmuInterface> iface;
    {
        Registry& r = TheRegistry();
        orvo::win32::CriticalSectionLock lock(r.lock);
        auto it = r.interfaces.find(InterfaceHandle);
        if (it == r.interfaces.end()) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        iface = it->second;
        r.interfaces.erase(it);
        for (auto b = r.isochBuffers.begin(); b != r.isochBuffers.end();) {
            b = b->second->owner == iface ? r.isochBuffers.erase(b) : std::next(b);
        }
    }
    return TRUE;  // the last reference ends the interface's transfers and thread
}

WINBOOL WINAPI WinUsb_GetDescriptor(WINUSB_INTERFACE_HANDLE InterfaceHandle, UCHAR DescriptorType, UCHAR Index,
                                    USHORT LanguageID, PUCHAR Buffer, ULONG BufferLength, PULONG LengthTransferred) {
    auto iface = FindInterface(InterfaceHandle);
    if (!iface) return FALSE;
    if (!LengthTransferred || (!Buffer && BufferLength)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *LengthTransferred = 0;
    if (!iface->Model().IsConnected()) {
        ::SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return FALSE;
    }
    std::vector<uint8_t> descriptor;
    if (DescriptorType == 1) {
        descriptor.resize(18);
        iface->Model().DeviceDescriptor(descriptor.data());
    } else if (DescriptorType != 3 || !iface->Model().StringDescriptor(Index, LanguageID, descriptor)) {
        ::SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    const ULONG n = std::min<ULONG>(BufferLength, ULONG(descriptor.size()));
    if (n) std::memcpy(Buffer, descriptor.data(), n);
    *LengthTransferred = n;
    return TRUE;
}

WINBOOL WINAPI WinUsb_QueryInterfaceSettings(WINUSB_INTERFACE_HANDLE InterfaceHandle, UCHAR AlternateInterfaceNumber,
                                             PUSB_INTERFACE_DESCRIPTOR UsbAltInterfaceDescriptor) {
    auto iface = FindInterface(InterfaceHandle);
    if (!iface) return FALSE;
    if (!UsbAltInterfaceDescriptor) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return iface->QuerySetting(AlternateInterfaceNumber, UsbAltInterfaceDescriptor);
}

WINBOOL WINAPI WinUsb_SetCurrentAlternateSetting(WINUSB_INTERFACE_HANDLE InterfaceHandle, UCHAR SettingNumber) {
    auto iface = FindInterface(InterfaceHandle);
    return iface && iface->SelectSetting(SettingNumber);
}

WINBOOL WINAPI WinUsb_QueryPipeEx(WINUSB_INTERFACE_HANDLE InterfaceHandle, UCHAR AlternateInterfaceNumber,
                                  UCHAR PipeIndex, PWINUSB_PIPE_INFORMATION_EX PipeInformationEx) {
    auto iface = FindInterface(InterfaceHandle);
    if (!iface) return FALSE;
    if (!PipeInformationEx) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return iface->QueryPipe(AlternateInterfaceNumber, PipeIndex, PipeInformationEx);
}

WINBOOL WINAPI WinUsb_QueryPipe(WINUSB_INTERFACE_HANDLE InterfaceHandle, UCHAR AlternateInterfaceNumber,
                                UCHAR PipeIndex, PWINUSB_PIPE_INFORMATION PipeInformation) {
    WINUSB_PIPE_INFORMATION_EX ex{};
    if (!PipeInformation) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!WinUsb_QueryPipeEx(InterfaceHandle, AlternateInterfaceNumber, PipeIndex, &ex)) return FALSE;
    PipeInformation->PipeType = ex.PipeType;
    PipeInformation->PipeId = ex.PipeId;
    PipeInformation->MaximumPacketSize = ex.MaximumPacketSize;
    PipeInformation->Interval = ex.Interval;
    return TRUE;
}

WINBOOL WINAPI WinUsb_GetPipePolicy(WINUSB_INTERFACE_HANDLE InterfaceHandle, UCHAR PipeID, ULONG PolicyType,
                                    PULONG ValueLength, PVOID Value) {
    auto iface = FindInterface(InterfaceHandle);
    return iface && iface->GetPolicy(PipeID, PolicyType, ValueLength, Value);
}

WINBOOL WINAPI WinUsb_SetPipePolicy(WINUSB_INTERFACE_HANDLE InterfaceHandle, UCHAR PipeID, ULONG PolicyType,
                                    ULONG ValueLength, PVOID Value) {
    auto iface = FindInterface(InterfaceHandle);
    return iface && iface->SetPolicy(PipeID, PolicyType, ValueLength, Value);
}

WINBOOL WINAPI WinUsb_ReadPipe(WINUSB_INTERFACE_HANDLE InterfaceHandle, UCHAR PipeID, PUCHAR Buffer,
                               ULONG BufferLength, PULONG LengthTransferred, LPOVERLAPPED Overlapped) {
    auto iface = FindInterface(InterfaceHandle);
    if (!iface) return FALSE;
    return RunTransfer(*iface, Overlapped, LengthTransferred, [&](OVERLAPPED* o) {
        return iface->SubmitRead(PipeID, Buffer, BufferLength, o);
    });
}

WINBOOL WINAPI WinUsb_WritePipe(WINUSB_INTERFACE_HANDLE InterfaceHandle, UCHAR PipeID, PUCHAR Buffer,
                                ULONG BufferLength, PULONG LengthTransferred, LPOVERLAPPED Overlapped) {
    auto iface = FindInterface(InterfaceHandle);
    if (!iface) return FALSE;
    return RunTransfer(*iface, Overlapped, LengthTransferred, [&](OVERLAPPED* o) {
        return iface->SubmitWrite(PipeID, Buffer, BufferLength, o);
    });
}

WINBOOL WINAPI WinUsb_GetOverlappedResult(WINUSB_INTERFACE_HANDLE InterfaceHandle, LPOVERLAPPED lpOverlapped,
                                          LPDWORD lpNumberOfBytesTransferred, WINBOOL bWait) {
    if (!FindInterface(InterfaceHandle)) return FALSE;
    if (!lpOverlapped || !lpNumberOfBytesTransferred) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (lpOverlapped->Internal == orvo::emu::kStatusPending) {
        if (!bWait || !lpOverlapped->hEvent) {
            ::SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        ::WaitForSingleObject(lpOverlapped->hEvent, INFINITE);
    }
    ::MemoryBarrier();
    *lpNumberOfBytesTransferred = DWORD(lpOverlapped->InternalHigh);
    if (lpOverlapped->Internal != 0) {
        ::SetLastError(orvo::emu::Win32ErrorFromStatus(lpOverlapped->Internal));
        return FALSE;
    }
    return TRUE;
}

WINBOOL WINAPI WinUsb_ControlTransfer(WINUSB_INTERFACE_HANDLE InterfaceHandle, WINUSB_SETUP_PACKET SetupPacket,
                                      PUCHAR Buffer, ULONG BufferLength, PULONG LengthTransferred,
                                      LPOVERLAPPED Overlapped) {
    auto iface = FindInterface(InterfaceHandle);
    if (!iface) return FALSE;
    ULONG moved = 0;
    const BOOL ok = iface->Control(SetupPacket, Buffer, BufferLength, &moved);
    if (LengthTransferred) *LengthTransferred = moved;
    if (Overlapped) {
        Overlapped->InternalHigh = moved;
        Overlapped->Internal = ok ? 0 : orvo::emu::kStatusStalled;
        if (Overlapped->hEvent) ::SetEvent(Overlapped->hEvent);
    }
    return ok;
}

WINBOOL WINAPI WinUsb_AbortPipe(WINUSB_INTERFACE_HANDLE InterfaceHandle, UCHAR PipeID) {
    auto iface = FindInterface(InterfaceHandle);
    return iface && iface->Abort(PipeID);
}

WINBOOL WINAPI WinUsb_ResetPipe(WINUSB_INTERFACE_HANDLE InterfaceHandle, UCHAR PipeID) {
    auto iface = FindInterface(InterfaceHandle);
    return iface && iface->Abort(PipeID);
}

WINBOOL WINAPI WinUsb_RegisterIsochBuffer(WINUSB_INTERFACE_HANDLE InterfaceHandle, UCHAR PipeID, PUCHAR Buffer,
                                          ULONG BufferLength, PWINUSB_ISOCH_BUFFER_HANDLE IsochBufferHandle) {
    auto iface = FindInterface(InterfaceHandle);
    if (!iface) return FALSE;
    const orvo::emu::EndpointInfo* endpoint = iface->FindPipe(PipeID);
    if (!endpoint || endpoint->type != orvo::emu::kPipeIsochronous || !Buffer || !BufferLength ||
        !IsochBufferHandle) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto buffer = std::make_shared<IsochBuffer>();
    buffer->owner = iface;
    buffer->pipe = PipeID;
    buffer->data = Buffer;
    buffer->length = BufferLength;
    Registry& r = TheRegistry();
    orvo::win32::CriticalSectionLock lock(r.lock);
    r.isochBuffers[buffer.get()] = buffer;
    *IsochBufferHandle = buffer.get();
    return TRUE;
}

WINBOOL WINAPI WinUsb_UnregisterIsochBuffer(WINUSB_ISOCH_BUFFER_HANDLE IsochBufferHandle) {
    Registry& r = TheRegistry();
    orvo::win32::CriticalSectionLock lock(r.lock);
    if (!r.isochBuffers.erase(IsochBufferHandle)) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

WINBOOL WINAPI WinUsb_ReadIsochPipeAsap(WINUSB_ISOCH_BUFFER_HANDLE BufferHandle, ULONG Offset, ULONG Length,
                                        WINBOOL ContinueStream, ULONG NumberOfPackets,
                                        PUSBD_ISO_PACKET_DESCRIPTOR IsoPacketDescriptors, LPOVERLAPPED Overlapped) {
    auto buffer = FindIsochBuffer(BufferHandle);
    if (!buffer) return FALSE;
    if (Offset > buffer->length || Length > buffer->length - Offset) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return buffer->owner->SubmitIsoch(buffer->pipe, buffer->data + Offset, Length, NumberOfPackets,
                                      IsoPacketDescriptors, Overlapped, ContinueStream != FALSE);
}

}  // extern "C"
