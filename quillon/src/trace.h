// Quillon's log lines go through the data-stream library's log, under the
// main window's source name and the line they are written at.
#pragma once

#include "ferrolink/tidestream/tidestream.h"

#define QUILLON_TRACE(...) logout_line(QVDS_LOG_TRACE, "AutoTabAppDlg", __LINE__, __VA_ARGS__)
#define QUILLON_EVENT(...) logout_line(QVDS_LOG_EVENT, "AutoTabAppDlg", __LINE__, __VA_ARGS__)
