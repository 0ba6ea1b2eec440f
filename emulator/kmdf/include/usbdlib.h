/* USBD library declarations with the WDK's names; the orvoUsb driver needs
 * only what usb.h provides. */
#ifndef ORVO_KMDF_USBDLIB_H
#define ORVO_KMDF_USBDLIB_H
#include <usb.h>
#endif
