// Cutting texts at a delimiter: empty pieces between delimiters count, a last
// piece only when text follows the last delimiter.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "split_text.h"

namespace {

struct SplitCase {
    std::string text;
    std::string delimiter;
    std::vector<std::string> pieces;
};

TEST(OpsSplitText, PiecesAtEveryDelimiter) {
    const SplitCase cases[] = {
        {"a:b:c", ":", {"a", "b", "c"}},
        {"a::b", ":", {"a", "", "b"}},
        {"a:b:", ":", {"a", "b"}},
        {":a", ":", {"", "a"}},
        {"::", ":", {"", ""}},
        {"", ":", {}},
        {"abc", ":", {"abc"}},
        {"x;;y;", ";", {"x", "", "y"}},
        {"k=1,,k=2", ",,", {"k=1", "k=2"}},
    };
    for (const SplitCase& c : cases) {
        EXPECT_EQ(SplitText(c.text, c.delimiter), c.pieces) << '"' << c.text << '"';
    }
}

}  // namespace
