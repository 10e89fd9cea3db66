// The console tests capture standard output with the shared test support.
#pragma once

#include "support/stdout_capture.h"

using support::CaptureStdout;
