// The one way a platform call fails: the errno it stopped at and one line for
// the user. Code 0 is success, so a call that can only fail returns an Error
// and the caller asks Failed(); a call that also yields a value returns
// Result<T> (platform/result.h).
#pragma once

#include <string>
#include <string_view>

namespace platform {

struct Error {
    int code = 0;
    std::string message;

    bool Failed() const { return code != 0; }

    // The current errno, with the line "<what>: <strerror text>".
    static Error FromErrno(std::string_view what);
    // `code` with the line "<what>: <strerror text of code>".
    static Error FromCode(int code, std::string_view what);
};

}  // namespace platform
