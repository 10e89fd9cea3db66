// A command-line scanner over glibc's getopt_long that keeps its own state:
// each scan starts afresh and the library's error printing stays off.
#pragma once

#include <getopt.h>

#include <string>
#include <vector>

namespace vantrel::app {

struct ScanEvent {
    enum class Kind { kOption, kOperand, kShortError, kLongError, kEnd } kind;
    int code = 0;  // option value, or the failing short character
    const char* argument = nullptr;
    std::string failedText;  // the argument text of a failing long option
};

class OptionScanner {
  public:
    OptionScanner(int argc, char** argv, const char* shortOptions, const option* longOptions);
    ScanEvent Next();
    // Operands left once the scan ended, in their order.
    const std::vector<const char*>& Operands() const { return operands_; }

  private:
    bool IsLongOptionValue(int code) const;

    int argc_;
    char** argv_;
    const char* shortOptions_;
    const option* longOptions_;
    std::vector<const char*> operands_;
    bool ended_ = false;
};

}  // namespace vantrel::app
