/* The driver's public header as C sees it, for the test that compares it
 * with the library's view of the contract. */
#include <ntddk.h>
#include <initguid.h>

#include "driver/public.h"

const GUID *const orvoDriverInterfaceClass = &GUID_DEVINTERFACE_ORVOUSB;
const ULONG orvoDriverIoctls[6] = {IOCTL_ORVOUSB_GET_CONFIG_DESCRIPTOR, IOCTL_ORVOUSB_RESET_DEVICE,
                                   IOCTL_ORVOUSB_RESET_PIPE,            IOCTL_ORVOUSB_GET_DESCRIPTOR,
                                   IOCTL_ORVOUSB_CONTROL_IN,            IOCTL_ORVOUSB_CONTROL_OUT};
const ULONG orvoDriverLayouts[8] = {
    sizeof(ORVOUSB_DESCRIPTOR_REQUEST),          FIELD_OFFSET(ORVOUSB_DESCRIPTOR_REQUEST, index),
    FIELD_OFFSET(ORVOUSB_DESCRIPTOR_REQUEST, languageId), sizeof(ORVOUSB_CONTROL_REQUEST),
    FIELD_OFFSET(ORVOUSB_CONTROL_REQUEST, recipient),     FIELD_OFFSET(ORVOUSB_CONTROL_REQUEST, request),
    FIELD_OFFSET(ORVOUSB_CONTROL_REQUEST, value),         FIELD_OFFSET(ORVOUSB_CONTROL_REQUEST, index)};
