// Clean-up of the identity texts a scanner reports.
#pragma once

#include <string>
#include <string_view>

namespace ferrolink {

// After the first ':' when there is one, without one leading blank, and with
// every CR that stands directly before an LF removed.
std::string CleanIdentityValue(std::string_view value);
// Without trailing CR and LF characters.
std::string TrimLineEnds(std::string_view text);
// The version from a firmware answer: with "Decoder" in it, the part before
// "Decoder" after its ':' and the character behind it, trailing line ends
// removed (empty without ':'); without "Decoder" the whole answer.
std::string FirmwareVersionOf(std::string_view firmwareInfo);

}  // namespace ferrolink
