// The camera access library's C interface: records, result codes and the 24
// exports of orvoApi.dll. Clients load the DLL by name and look every export
// up by name (see orvo_api_client.h); nothing else of the library is visible.
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include "orvo_build_config.h"

#define ORVO_CALL __stdcall

// Every failure is 0x80000000 | vendor id << 12 | n; clients only test for 0.
#define ORVO_RESULT(n) ((int32_t)(0x80000000u | ((uint32_t)(ORVO_VENDOR_ID) << 12) | (uint32_t)(n)))

#define ORVO_OK                 0
#define ORVO_E_FAIL             ORVO_RESULT(0x000)
#define ORVO_E_BUSY             ORVO_RESULT(0x001)
#define ORVO_E_OPEN_FAILED      ORVO_RESULT(0x002)
#define ORVO_E_IN_USE           ORVO_RESULT(0x003)
#define ORVO_E_BAD_HANDLE       ORVO_RESULT(0x004)
#define ORVO_E_NOT_FOUND        ORVO_RESULT(0x005)
#define ORVO_E_BUFFER_IN_USE    ORVO_RESULT(0x006)
#define ORVO_E_MORE_DATA        ORVO_RESULT(0x007)
#define ORVO_E_BAD_BUFFER       ORVO_RESULT(0x008)
#define ORVO_E_NO_DEVICES       ORVO_RESULT(0x009)
#define ORVO_E_BAD_INDEX        ORVO_RESULT(0x00A)
#define ORVO_E_BAD_ARG          ORVO_RESULT(0x00B)
#define ORVO_E_NOT_IMPLEMENTED  ORVO_RESULT(0x00C)
#define ORVO_E_BAD_INFO         ORVO_RESULT(0x00D)
#define ORVO_E_OUT_OF_MEMORY    ORVO_RESULT(0x00E)
#define ORVO_E_BAD_PARAM        ORVO_RESULT(0x00F)
#define ORVO_E_BAD_FORMAT       ORVO_RESULT(0x010)
#define ORVO_E_NO_FRAME         ORVO_RESULT(0x011)
#define ORVO_E_OUT_OF_RANGE     ORVO_RESULT(0x012)
#define ORVO_E_READ_ONLY        ORVO_RESULT(0x013)
#define ORVO_E_CONFLICT         ORVO_RESULT(0x015)
#define ORVO_E_UNSUPPORTED      ORVO_RESULT(0x016)
#define ORVO_E_WRITE_ONLY       ORVO_RESULT(0x017)

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ApiVersion {
    uint32_t major;
    uint32_t minor;
    uint32_t build;
} ApiVersion;

// One camera of the device list; also the head of a shared-table record.
typedef struct DeviceEntry {
    int32_t inUse;            // 1 while some process has the camera open
    int32_t deviceId;         // 1, 2, 3, ... ; -1 before the table assigned one
    int32_t model;            // model code 0..12, from the USB product id
    int32_t releaseMajor;     // high byte of bcdDevice
    int32_t releaseMinor;     // low byte of bcdDevice
    wchar_t product[32];      // USB product string, NUL-terminated
    wchar_t serialNumber[16]; // USB serial-number string, NUL-terminated
    uint32_t devInst;         // device-instance handle in the reading process
} DeviceEntry;

typedef struct FrameDesc {
    void* reserved;           // always 0
    HBITMAP bitmap;           // the DIB section holding the frame
    void* bits;               // the DIB's pixel memory
} FrameDesc;

typedef struct ParamRange {
    int32_t min;
    int32_t max;
    int32_t step;
    int32_t extra;
    int32_t reserved;
} ParamRange;

int32_t ORVO_CALL orvo_GetApiVersion(ApiVersion* version);
int32_t ORVO_CALL orvo_SetClientApiVersion(const ApiVersion* clientVersion);
int32_t ORVO_CALL orvo_InitializeApi(void);
int32_t ORVO_CALL orvo_GetNumDevices(int* count);
int32_t ORVO_CALL orvo_GetDeviceList(uint32_t bufferSize, DeviceEntry* entries, int* count);
int32_t ORVO_CALL orvo_EnableApiEvent(int which, HANDLE event);
int32_t ORVO_CALL orvo_Open(int deviceId, int* handle);
int32_t ORVO_CALL orvo_Close(int handle);
int32_t ORVO_CALL orvo_EnableCameraEvent(int handle, int index, HANDLE event);
int32_t ORVO_CALL orvo_GetInfo(int handle, int infoId, void* record);
int32_t ORVO_CALL orvo_SetInfo(int handle, int infoId, void* record);
int32_t ORVO_CALL orvo_CreateBuffer(int handle, int kind, int pixelFormat, int reserved, int width,
                                    int height, int frameCount, int* bufferIndex);
int32_t ORVO_CALL orvo_DeleteBuffer(int handle, int bufferIndex);
int32_t ORVO_CALL orvo_SetPalette(int handle, int unused, void* palette);
int32_t ORVO_CALL orvo_GetFrame(int handle, int bufferIndex, int* frameIndex, FrameDesc* frame);
int32_t ORVO_CALL orvo_ReleaseFrame(int handle, int bufferIndex, int frameIndex);
int32_t ORVO_CALL orvo_GetParam(int handle, int bufferIndex, int paramId, int* value);
int32_t ORVO_CALL orvo_GetParamRange(int handle, int bufferIndex, int paramId, ParamRange* range);
int32_t ORVO_CALL orvo_SetParam(int handle, int bufferIndex, int paramId, int* value);
int32_t ORVO_CALL orvo_SetFramePos(int handle, int bufferIndex, int x, int y);
int32_t ORVO_CALL orvo_UpdateParams(int handle);
int32_t ORVO_CALL orvo_StartCapture(int handle, int bufferIndex);
int32_t ORVO_CALL orvo_StopCapture(int handle);
int32_t ORVO_CALL orvo_IsParamSupported(int deviceId, int paramId);

#ifdef __cplusplus
}  // extern "C"

// These records cross process and bitness boundaries: their layout is fixed.
static_assert(sizeof(wchar_t) == 2, "records hold UTF-16 strings");
static_assert(sizeof(ApiVersion) == 12, "ApiVersion layout");
static_assert(sizeof(DeviceEntry) == 120, "DeviceEntry layout");
static_assert(offsetof(DeviceEntry, deviceId) == 4, "DeviceEntry layout");
static_assert(offsetof(DeviceEntry, model) == 8, "DeviceEntry layout");
static_assert(offsetof(DeviceEntry, releaseMajor) == 12, "DeviceEntry layout");
static_assert(offsetof(DeviceEntry, releaseMinor) == 16, "DeviceEntry layout");
static_assert(offsetof(DeviceEntry, product) == 20, "DeviceEntry layout");
static_assert(offsetof(DeviceEntry, serialNumber) == 84, "DeviceEntry layout");
static_assert(offsetof(DeviceEntry, devInst) == 116, "DeviceEntry layout");
static_assert(sizeof(FrameDesc) == 3 * sizeof(void*), "FrameDesc layout");
static_assert(offsetof(FrameDesc, bitmap) == sizeof(void*), "FrameDesc layout");
static_assert(offsetof(FrameDesc, bits) == 2 * sizeof(void*), "FrameDesc layout");
static_assert(sizeof(ParamRange) == 20, "ParamRange layout");
static_assert(offsetof(ParamRange, extra) == 12, "ParamRange layout");
static_assert(offsetof(ParamRange, reserved) == 16, "ParamRange layout");
#endif
