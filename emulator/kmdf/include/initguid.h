/* Makes DEFINE_GUID define the GUID instead of declaring it, as the WDK's
 * initguid.h does. */
#ifndef INITGUID
#define INITGUID
#endif
#undef DEFINE_GUID
#ifdef __cplusplus
#define ORVO_KMDF_GUID_EXTERN extern "C"
#else
#define ORVO_KMDF_GUID_EXTERN
#endif
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    ORVO_KMDF_GUID_EXTERN const GUID DECLSPEC_SELECTANY name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
