// What a piece of code writes to standard output (descriptor 1, so printf,
// std::cout and plain write() alike), through a real file.
#pragma once

#include <functional>
#include <string>

namespace support {

std::string CaptureStdout(const std::function<void()>& body);

}  // namespace support
