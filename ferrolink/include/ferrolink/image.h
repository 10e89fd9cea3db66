/* Image capture. Plain C export. */
#ifndef FERROLINK_IMAGE_H
#define FERROLINK_IMAGE_H

#include "ferrolink/limits.h"
#include "ferrolink/record.h"

#ifdef __cplusplus
extern "C" {
#endif

/* What the image header of a capture says. */
typedef struct QVImageInfo {
    uint32_t nWidth;
    uint32_t nHeight;
    uint32_t nBytes; /* nWidth x nHeight, at most FERROLINK_MAX_IMAGE_BYTES */
} QVImageInfo;

/* The scanner's last image: a pointer to byte 27 of the reply in a library-wide
 * buffer (valid until the next capture), where the image bytes follow the
 * header's 20 bytes ("IMGGET", width, height, byte count). Null when the device
 * could not be opened or no whole image came: the header must be valid and
 * exactly the bytes it announces must follow. The reading never takes more
 * than the header announces, and never more than FERROLINK_MAX_IMAGE_BYTES.
 * Captures must not overlap. */
FERROLINK_API unsigned char* qv_GetPic(const _QVDeviceInfo* pDevice);
/* Captures as qv_GetPic and copies the image bytes (without header and status)
 * into pBuffer of nCapacity bytes; *pInfo receives the header's values. 1 when
 * copied, 0 when no whole image came, FERROLINK_TOO_LONG when the image is
 * larger than nCapacity (nothing copied, *pInfo filled). */
FERROLINK_API int qv_GetPicSized(const _QVDeviceInfo* pDevice, unsigned char* pBuffer,
                                 size_t nCapacity, QVImageInfo* pInfo);

#ifdef __cplusplus
}
#endif

#endif
