// Error lines carry the text of their errno so each caller need not format it.
#include "platform/error.h"

#include <cerrno>
#include <cstring>
#include <utility>

namespace platform {

Error Error::FromErrno(std::string_view what) {
    return FromCode(errno, what);
}

Error Error::FromCode(int code, std::string_view what) {
    std::string message(what);
    message += ": ";
    message += std::strerror(code);
    return Error{code, std::move(message)};
}

}  // namespace platform
