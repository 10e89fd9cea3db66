// Cutting a reply text into pieces at a delimiter.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Pieces between delimiters count even when empty; a last piece is added only
// when text follows the last delimiter ("a::b:" gives "a", "", "b").
std::vector<std::string> SplitText(std::string_view text, std::string_view delimiter);
