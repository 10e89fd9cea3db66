// Compiled the way a source file of the console program is (its include
// folders and the targets it links): the port's public face is reachable, and
// no spelling of a header from the port's own sources is.
#if defined(VANTREL_PROBE_public_face)
#include "driver/ovrix_wire.h"
#include "port/com_interfaces.h"
#include "port/console_keys.h"
#include "port/win_port.h"
#include "port/win_port_errors.h"
#elif defined(VANTREL_PROBE_bare_name)
#include "device.h"
#elif defined(VANTREL_PROBE_src_folder)
#include "src/device.h"
#elif defined(VANTREL_PROBE_port_src)
#include "port/src/device.h"
#endif

int VantrelWallProbe() {
    return 0;
}
