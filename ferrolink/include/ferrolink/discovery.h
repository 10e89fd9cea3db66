/* Finding the attached scanners. */
#ifndef FERROLINK_DISCOVERY_H
#define FERROLINK_DISCOVERY_H

#include "ferrolink/record.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Fills the first N records (N = the result, never more than nCount) with the
 * scanners found: USB devices first, then serial ports, each identified.
 * Records must not hold a connection object. */
FERROLINK_API int qv_GetDevice(_QVDeviceInfo* pDevices, int nCount);

#ifdef __cplusplus
}
#endif

#endif
