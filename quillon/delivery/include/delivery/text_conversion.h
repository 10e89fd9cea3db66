// Scan bytes to UTF-16 text: UTF-8 when the bytes look like UTF-8, otherwise
// the configured code page.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

// True when the bytes are well-formed in the loose sense of the classic
// scanner check (lead bytes up to 0xFD with up to five continuation bytes) and
// contain at least one byte of 0x80 or above. Pure ASCII is not "UTF-8" here,
// so it goes through the code page.
bool IsUtf8Text(std::string_view bytes);

// Converts the bytes with code page 65001 when IsUtf8Text holds, else with
// `codePage` (0 = the locale's charset). None when the result would need more
// than `capacity` units or the code page is not supported.
std::optional<std::u16string> ConvertToWide(std::string_view bytes, size_t capacity,
                                            unsigned codePage);

// How many bytes at the end of `bytes` cannot be decoded yet: an incomplete
// UTF-8 sequence after bytes that may still be UTF-8, or, for text in a
// double-byte code page (932, 936, 949, 950), a lead byte without its trail
// byte. 0 when the block ends on a whole character.
size_t IncompleteTail(std::string_view bytes, unsigned codePage);

// Decodes scan blocks as they arrive, so that a character whose bytes come
// in two reads is decoded whole: an incomplete tail waits for the next
// block, and is decoded as it stands only by Flush. Not thread-safe.
class ScanDecoder {
  public:
    // The text of the held bytes and `block`, without a tail that is still
    // incomplete. None when the decodable bytes were dropped (conversion
    // failed or needed more units than bytes).
    std::optional<std::u16string> Feed(std::string_view block, unsigned codePage);
    // The held bytes decoded as they stand (empty text when none are held).
    std::optional<std::u16string> Flush(unsigned codePage);
    bool Holding() const { return !m_held.empty(); }

  private:
    std::string m_held;
};

}  // namespace quillon
