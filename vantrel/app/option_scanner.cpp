#include "option_scanner.h"

#include <cstring>

namespace vantrel::app {

OptionScanner::OptionScanner(int argc, char** argv, const char* shortOptions,
                             const option* longOptions)
    : argc_(argc), argv_(argv), shortOptions_(shortOptions), longOptions_(longOptions) {
    // optind 0 makes glibc drop whatever an earlier scan left behind.
    optind = 0;
    opterr = 0;
}

ScanEvent OptionScanner::Next() {
    if (ended_)
        return {ScanEvent::Kind::kEnd, 0, nullptr, {}};
    optopt = 0;
    const int code = getopt_long(argc_, argv_, shortOptions_, longOptions_, nullptr);
    if (code == -1) {
        ended_ = true;
        for (int index = optind; index < argc_; ++index)
            operands_.push_back(argv_[index]);
        return {ScanEvent::Kind::kEnd, 0, nullptr, {}};
    }
    if (code != '?')
        return {ScanEvent::Kind::kOption, code, optarg, {}};
    ended_ = true;
    // Long options carry values above 255; an unknown long option has none.
    const char* failed = argv_[optind - 1];
    const bool longFailure =
        optopt >= 256 || (optopt == 0 && failed && std::strncmp(failed, "--", 2) == 0);
    if (longFailure)
        return {ScanEvent::Kind::kLongError, optopt, nullptr, failed ? failed : ""};
    return {ScanEvent::Kind::kShortError, optopt, nullptr, {}};
}

}  // namespace vantrel::app
