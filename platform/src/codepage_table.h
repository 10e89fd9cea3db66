// The code pages the programs offer, shared by the code-page backends of both
// systems so that a text names the same code pages on each.
#pragma once

#include <string>

namespace platform::codepage_table {

enum class Kind { kUnknown, kUtf8, kSingleByte, kMultiByte };

struct Offered {
    Kind kind = Kind::kUnknown;
    // The name iconv knows the code page by ("CP936", "ISO-8859-2", ...).
    std::string charset;
};

// Kind kUnknown for a code page that is not offered. Code page 0, the
// system's ANSI code page, is each backend's to resolve first.
Offered LookUp(unsigned codePage);

}  // namespace platform::codepage_table
