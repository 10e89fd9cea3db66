// Bytes from a device made safe to print: control characters, and bytes
// that are no text, are written as escapes, so a scanner or a port cannot
// send terminal escape sequences to the user's terminal or break a line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Length of the well-formed UTF-8 sequence at `at` and its code point; 0
// when none starts there (overlong forms and surrogates included).
size_t Utf8SequenceAt(std::string_view bytes, size_t at, char32_t* codePoint);
// Whether all of `bytes` is well-formed UTF-8.
bool IsUtf8(std::string_view bytes);

struct EscapeRules {
    // Well-formed UTF-8 stays as it is (its C1 controls become \u0080..\u009F);
    // otherwise every byte from 0x80 up is an escape.
    bool keepUtf8 = false;
    // Tab, line feed and carriage return as \t, \n and \r instead of \xNN.
    bool namedControls = false;
    // A backslash as "\\", so an escape can be told from the same text sent.
    bool escapeBackslash = false;
};

// Control bytes (below 0x20, and 0x7F) and bytes that are no text become
// \xNN (upper-case hex); the rest is copied.
std::string EscapeText(std::string_view bytes, const EscapeRules& rules = {});

}  // namespace platform
