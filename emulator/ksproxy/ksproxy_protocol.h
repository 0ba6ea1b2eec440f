/* The stand-in kernel-streaming proxy's control codes and records, shared by
 * the driver (C, kernel mode) and its helper and tests (C++, user mode).
 * The two public codes and the registration record are the proxy's contract
 * with the watchdog; the private codes serve the helper and the tests. */
#ifndef ORVO_KSPROXY_PROTOCOL_H
#define ORVO_KSPROXY_PROTOCOL_H

#define ZKSP_CODE(function) ((0xF000u << 16) | ((function) << 2))

#define ZKSP_IOCTL_ADD_CAMERA      ZKSP_CODE(0)      /* 0xF0000000 */
#define ZKSP_IOCTL_REMOVE_CAMERA   ZKSP_CODE(1)      /* 0xF0000004 */
/* Private: the helper takes the next request (out: ZKSP_REQUEST + record). */
#define ZKSP_IOCTL_NEXT_REQUEST    ZKSP_CODE(0x800)
/* Private: the helper has made the node (in: ZKSP_PUBLISH). */
#define ZKSP_IOCTL_PUBLISH         ZKSP_CODE(0x801)
/* Private: the newest frame of a camera (in: GUID; out: ZKSP_FRAME + bytes). */
#define ZKSP_IOCTL_READ_FRAME      ZKSP_CODE(0x802)
/* Private: the bytes of the last ADD request as received. */
#define ZKSP_IOCTL_LAST_RECORD     ZKSP_CODE(0x803)
/* Private: fault switches (in: unsigned int of ZKSP_FAULT_ bits). */
#define ZKSP_IOCTL_FAULTS          ZKSP_CODE(0x804)
/* Private: the cameras (out: ZKSP_LIST). */
#define ZKSP_IOCTL_LIST            ZKSP_CODE(0x805)

#define ZKSP_FAULT_REJECT_ADD  1u  /* ADD answers a negative status */
#define ZKSP_FAULT_HOLD_ADD    2u  /* ADD and REMOVE never complete (until cancelled) */
#define ZKSP_FAULT_HOLD_WRITES 4u  /* frame writes never complete (until cancelled) */

#define ZKSP_MAX_CAMERAS 16
#define ZKSP_MAX_RECORD  4096
#define ZKSP_MAX_TAIL    400

#define ZKSP_REQUEST_NONE   0u
#define ZKSP_REQUEST_ADD    1u
#define ZKSP_REQUEST_REMOVE 2u

#define ZKSP_STATUS_INVALIDARG ((int)0x80070057)
#define ZKSP_STATUS_REJECTED   ((int)0x80004005)

typedef struct ZKSP_REQUEST {
    unsigned int kind;         /* ZKSP_REQUEST_ */
    unsigned int recordBytes;  /* ADD: the registration record follows */
    GUID camera;
} ZKSP_REQUEST;

typedef struct ZKSP_PUBLISH {
    GUID camera;
    /* The interface path after "\\?\", NUL-terminated. */
    WCHAR tail[ZKSP_MAX_TAIL];
} ZKSP_PUBLISH;

typedef struct ZKSP_FRAME {
    unsigned long long frames;  /* complete frames written so far */
    unsigned int badWrites;     /* writes of another length, refused */
    unsigned int bytes;         /* frame bytes that follow (0 before the first frame) */
    int width;
    int height;
} ZKSP_FRAME;

typedef struct ZKSP_CAMERA_INFO {
    GUID camera;
    unsigned int published;
    unsigned int badWrites;
    unsigned long long frames;
    WCHAR name[64];
} ZKSP_CAMERA_INFO;

typedef struct ZKSP_LIST {
    unsigned int count;
    unsigned int reserved;
    ZKSP_CAMERA_INFO cameras[ZKSP_MAX_CAMERAS];
} ZKSP_LIST;

#endif
