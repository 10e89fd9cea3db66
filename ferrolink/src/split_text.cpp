#include "split_text.h"

std::vector<std::string> SplitText(std::string_view text, std::string_view delimiter) {
    std::vector<std::string> pieces;
    if (delimiter.empty()) {
        if (!text.empty())
            pieces.emplace_back(text);
        return pieces;
    }
    size_t start = 0;
    for (size_t at = text.find(delimiter); at != std::string_view::npos;
         at = text.find(delimiter, start)) {
        pieces.emplace_back(text.substr(start, at - start));
        start = at + delimiter.size();
    }
    if (start < text.size())
        pieces.emplace_back(text.substr(start));
    return pieces;
}
