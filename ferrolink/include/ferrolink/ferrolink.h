/* Everything the library exports. */
#ifndef FERROLINK_FERROLINK_H
#define FERROLINK_FERROLINK_H

#ifndef __cplusplus
#include <stdbool.h>
#endif

#include "ferrolink/commands.h"
#include "ferrolink/config.h"
#include "ferrolink/discovery.h"
#include "ferrolink/firmware.h"
#include "ferrolink/identity.h"
#include "ferrolink/image.h"
#include "ferrolink/limits.h"
#include "ferrolink/notify.h"
#include "ferrolink/record.h"

#endif
