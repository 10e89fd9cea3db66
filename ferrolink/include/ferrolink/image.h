/* Image capture. Plain C export. */
#ifndef FERROLINK_IMAGE_H
#define FERROLINK_IMAGE_H

#include "ferrolink/record.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The scanner's last image: a pointer to byte 27 of the reply in a library-wide
 * buffer (valid until the next capture), or null when the device could not be
 * opened or fewer than 30 bytes came. Captures must not overlap. */
FERROLINK_API unsigned char* qv_GetPic(const _QVDeviceInfo* pDevice);

#ifdef __cplusplus
}
#endif

#endif
