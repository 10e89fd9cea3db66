// A single pass over the tags of an XML text, counting open elements.
#include "xml_depth.h"

#include <fstream>
#include <iterator>
#include <string>

namespace ferrolink_xml {

namespace {

// Position just behind `end` at or after `from`; npos when it never comes.
size_t After(std::string_view text, size_t from, std::string_view end) {
    const size_t found = text.find(end, from);
    return found == std::string_view::npos ? found : found + end.size();
}

// Position just behind the '>' that closes a tag starting at `from`, skipping
// quoted attribute values; `empty` tells whether the tag ended with "/>".
size_t TagEnd(std::string_view text, size_t from, bool* empty) {
    char quote = 0;
    for (size_t i = from; i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            *empty = i > from && text[i - 1] == '/';
            return i + 1;
        }
    }
    return std::string_view::npos;
}

// A declaration such as DOCTYPE may hold an internal subset in brackets,
// with '>' inside it.
size_t DeclarationEnd(std::string_view text, size_t from) {
    int brackets = 0;
    for (size_t i = from; i < text.size(); ++i) {
        if (text[i] == '[')
            ++brackets;
        else if (text[i] == ']' && brackets > 0)
            --brackets;
        else if (text[i] == '>' && brackets == 0)
            return i + 1;
    }
    return std::string_view::npos;
}

}  // namespace

bool NestingWithin(std::string_view text, size_t maxDepth) {
    size_t depth = 0;
    size_t i = 0;
    while (i < text.size()) {
        const size_t open = text.find('<', i);
        if (open == std::string_view::npos)
            return true;
        const std::string_view rest = text.substr(open);
        size_t next;
        if (rest.starts_with("<!--")) {
            next = After(text, open + 4, "-->");
        } else if (rest.starts_with("<![CDATA[")) {
            next = After(text, open + 9, "]]>");
        } else if (rest.starts_with("<?")) {
            next = After(text, open + 2, "?>");
        } else if (rest.starts_with("<!")) {
            next = DeclarationEnd(text, open + 2);
        } else if (rest.starts_with("</")) {
            if (depth > 0)
                --depth;
            next = After(text, open + 2, ">");
        } else {
            bool empty = false;
            next = TagEnd(text, open + 1, &empty);
            // An unclosed last tag still counts: TinyXML would descend into it.
            if (!empty && ++depth > maxDepth)
                return false;
        }
        if (next == std::string_view::npos)
            return true;
        i = next;
    }
    return true;
}

FileNesting FileNestingWithin(const char* fileName, size_t maxDepth) {
    if (fileName == nullptr)
        return FileNesting::kUnreadable;
    std::ifstream in(fileName, std::ios::binary);
    if (!in.is_open())
        return FileNesting::kUnreadable;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return FileNesting::kUnreadable;
    return NestingWithin(bytes, maxDepth) ? FileNesting::kWithin : FileNesting::kTooDeep;
}

}  // namespace ferrolink_xml
