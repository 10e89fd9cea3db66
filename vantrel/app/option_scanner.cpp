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

bool OptionScanner::IsLongOptionValue(int code) const {
    for (const option* entry = longOptions_; entry->name; ++entry)
        if (entry->flag == nullptr && entry->val == code)
            return true;
    return false;
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
    // The failing argument's text decides: "--bytesrw" without its argument
    // is a long failure although glibc reports it by its short alias 'b'. An
    // unknown character inside a group ("-zl") fails before glibc moves past
    // the group, so argv[optind - 1] is then the argument before it; such a
    // character is no long option's value, which keeps it a short failure.
    const char* failed = argv_[optind - 1];
    const bool dashes = failed && std::strncmp(failed, "--", 2) == 0;
    const bool longFailure =
        optopt >= 256 || (dashes && (optopt == 0 || IsLongOptionValue(optopt)));
    if (longFailure)
        return {ScanEvent::Kind::kLongError, optopt, nullptr, failed ? failed : ""};
    return {ScanEvent::Kind::kShortError, optopt, nullptr, {}};
}

}  // namespace vantrel::app
