// How deeply the elements of an XML text nest, found without building the
// document: TinyXML reads nested elements by recursion, so a file nested deep
// enough would exhaust the stack before any check on the document could run.
#pragma once

#include <cstddef>
#include <string_view>

namespace ferrolink_xml {

// Configuration set files nest three levels; this leaves room for any
// hand-written file and stays far below what the stack holds.
inline constexpr size_t kMaxSetFileDepth = 256;

// true when no element of `text` lies more than `maxDepth` levels deep.
// Comments, CDATA sections, declarations, processing instructions and quoted
// attribute values are skipped; a text that is no well-formed XML is judged
// only by its tags, and TinyXML refuses it afterwards.
bool NestingWithin(std::string_view text, size_t maxDepth);

enum class FileNesting { kWithin, kTooDeep, kUnreadable };

// The same for a file.
FileNesting FileNestingWithin(const char* fileName, size_t maxDepth);

}  // namespace ferrolink_xml
