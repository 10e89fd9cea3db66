// Why a scanner that discovery listed cannot be opened: discovery fills a
// record with empty identity texts when it could not open the device, and a
// registration of such a record would receive nothing.
#pragma once

#include <QString>

#include "ferrolink/record.h"

namespace quillon {

// Opens the record's device once and closes it again; the reason in words
// when it cannot be opened, empty when it can.
QString OpenRefusal(const _QVDeviceInfo& device);

// True when the record carries no identity at all (no product name, serial
// number or firmware version): discovery could not ask the device.
bool IdentityMissing(const _QVDeviceInfo& device);

}  // namespace quillon
