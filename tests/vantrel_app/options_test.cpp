// The command line of the console program: usage, scan errors, validation
// lines and exit statuses, checked by running the program.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_program.h"
#include "support/temp_dir.h"

namespace {

struct OptionCase {
    const char* name;
    std::vector<std::string> args;
    int exitStatus;
    std::vector<std::string> expectedLines;  // each must appear, in this order
    std::vector<std::string> absentLines;
};

const char kHelpHint[] = "\nUse option -h to display parameter help.\n";
const char kUsageHead[] = "\nNeed at least one argument as COM port DevOpenPath.\n";

class OptionTable : public ::testing::TestWithParam<OptionCase> {};

TEST_P(OptionTable, PrintsItsLinesAndEndsWithItsStatus) {
    const OptionCase& c = GetParam();
    const support::TempDir tmp("vantrel_app");
    const std::string dir = tmp.String();
    const ProgramRun run = RunProgram(c.args, "", dir);
    EXPECT_EQ(run.exitStatus, c.exitStatus) << run.output;
    size_t from = 0;
    for (const std::string& line : c.expectedLines) {
        const size_t at = run.output.find(line, from);
        ASSERT_NE(at, std::string::npos) << "missing: " << line << "\nin:\n" << run.output;
        from = at + line.size();
    }
    for (const std::string& line : c.absentLines)
        EXPECT_EQ(run.output.find(line), std::string::npos) << "unexpected: " << line << "\n"
                                                            << run.output;
}

const std::string kLongPath(260, 'p');

INSTANTIATE_TEST_SUITE_P(
    CommandLines, OptionTable,
    ::testing::Values(
        OptionCase{"NoArgument",
                   {},
                   2,
                   {"Vantrel version 1.7.12, compiled on ", kUsageHead, "    vantrel \\\\.\\COM9\n",
                    "     \n  -c <mbc> or --msec-cancel=<mbc>\n",
                    "     Operate in Datapipe mode. CreateFile('\\\\.\\KTR_Datapipe').\nMore:\n",
                    "  -K 16000 or --echo-chunk-maxbytes=16000 (server & client)\n",
                    "  -k 12 or --echo-chunk-minbytes=12 (server & client)\n", "  -Q <rtoc> \n"},
                   {kHelpHint}},
        OptionCase{"OnlyH", {"-h"}, 0, {kUsageHead, "  -Q <rtoc> \n"}, {"Bad short option"}},
        OptionCase{"LongHelp",
                   {"--help"},
                   0,
                   {"Usage: vantrel [options] <DevOpenPath>\n", "\nExit status:\n"},
                   {kHelpHint, "Bad long option"}},
        OptionCase{
            "HWithPort", {"-h", "COM3"}, 2, {"Bad short option '-h'.\n", kHelpHint}, {kUsageHead}},
        OptionCase{"TwoNames",
                   {"COM3", "COM4"},
                   2,
                   {"You pass in more than one argument as COM port device name.\n", kHelpHint},
                   {}},
        OptionCase{"NoName",
                   {"-b", "10"},
                   2,
                   {"You do not pass in an argument as COM port device name.\n", kHelpHint},
                   {}},
        OptionCase{"ChunkMaxTooSmall",
                   {"-K", "11", "COM3"},
                   2,
                   {"-K or --echo-chunk-maxbytes has bad argument(should between 12 and 8024012)\n",
                    kHelpHint},
                   {}},
        OptionCase{"ChunkMinAboveMax",
                   {"-k", "2000", "-K", "1000", "COM3"},
                   2,
                   {"-k value must not be larger than -K value.\n", kHelpHint},
                   {"bad argument"}},
        OptionCase{"RtoiMinusTwo",
                   {"--rtoi=-2", "COM3"},
                   2,
                   {"--rtoi has bad argument(should>=0 or -1)\n"},
                   {}},
        OptionCase{"SeveralChecksFailTogether",
                   {"-c", "0", "--wtom=-5", "-B", "-1", "COM3"},
                   2,
                   {"--msec-cancel or -c has bad argument(should>0)\n",
                    "--wtom has bad argument(should>=0 or -1)\n",
                    "--baudrate or -B has bad argument(should>0)\n"},
                   {}},
        OptionCase{"ShortMissingArgument",
                   {"COM3", "-b"},
                   2,
                   {"Short option '-b' missing an argument.\n"},
                   {}},
        OptionCase{"LongMissingArgument",
                   {"COM3", "--rtoi"},
                   2,
                   {"Long option '--rtoi' missing an argument\n"},
                   {}},
        // A long option with a short alias fails under its own name; the
        // argument's text decides, not the alias glibc reports.
        OptionCase{"LongWithShortAliasMissingArgument",
                   {"COM3", "--bytesrw"},
                   2,
                   {"Long option '--bytesrw' missing an argument\n"},
                   {"Short option"}},
        OptionCase{"LongMaxBytesMissingArgument",
                   {"COM3", "--echo-maxbytes"},
                   2,
                   {"Long option '--echo-maxbytes' missing an argument\n"},
                   {"Short option"}},
        OptionCase{"LongAliasAbbreviatedMissingArgument",
                   {"COM3", "--bytes"},
                   2,
                   {"Bad long option '--bytes'\n"},
                   {"Short option"}},
        // An unknown letter inside a group stays a short failure after a long option.
        OptionCase{"UnknownInGroupAfterLongOption",
                   {"--bytesrw=5", "-xl", "COM3"},
                   2,
                   {"Bad short option '-x'.\n"},
                   {"long option"}},
        OptionCase{"LongUnknown", {"COM3", "--rtoz=1"}, 2, {"Bad long option '--rtoz=1'\n"}, {}},
        OptionCase{
            "LongAmbiguousPrefix", {"COM3", "--rto=1"}, 2, {"Bad long option '--rto=1'\n"}, {}},
        OptionCase{"PathTooLong", {kLongPath}, 2, {"too long", kHelpHint}, {"CreateFile("}},
        // The data pipe's name is appended to the path; together they must fit too.
        OptionCase{"DatapipePathTooLong",
                   {"--datapipe", std::string(250, 'p')},
                   2,
                   {"COM port device name is too long (at most 259 characters).\n", kHelpHint},
                   {"CreateFile("}},
        OptionCase{"ListEndsWithoutPort", {"-l"}, 0, {"OVRIX kernel version"}, {kHelpHint}},
        OptionCase{"ListVcomsEndsWithoutPort", {"--list-vcoms"}, 0, {}, {kHelpHint}},
        OptionCase{"PrefixHintAboveEight",
                   {"COM12"},
                   1,
                   {"CreateFile('COM12') fail.", "ERROR_FILE_NOT_FOUND",
                    "Did you forget to add extra prefix for COM12 ? Try \\\\.\\COM12 instead.\n"},
                   {}},
        OptionCase{
            "NoPrefixHintForEight", {"com8"}, 1, {"CreateFile('com8') fail."}, {"Did you forget"}},
        OptionCase{"DatapipeWithoutName",
                   {"--datapipe"},
                   1,
                   {"CreateFile('\\\\.\\KTR_Datapipe') fail."},
                   {kHelpHint}},
        // Every range check names its option; numbers beyond 32 bits are
        // refused like out-of-range ones, never cut to their low bits.
        OptionCase{"BytesRwAboveBuffer",
                   {"-b", "8124000", "COM3"},
                   2,
                   {"--bytesrw or -b has bad argument(should>=0)\n", kHelpHint},
                   {}},
        OptionCase{"BytesRwNegative",
                   {"--bytesrw=-1", "COM3"},
                   2,
                   {"--bytesrw or -b has bad argument(should>=0)\n"},
                   {}},
        OptionCase{"BytesRwBeyond32Bits",
                   {"-b", "4294967296", "COM3"},
                   2,
                   {"--bytesrw or -b has bad argument(should>=0)\n"},
                   {}},
        OptionCase{"MaxBytesNegative",
                   {"-m", "-5", "COM3"},
                   2,
                   {"-m or --echo-maxbytes has bad argument(should>0)\n", kHelpHint},
                   {}},
        OptionCase{"MaxBytesBeyond32Bits",
                   {"-m", "4294967296", "COM3"},
                   2,
                   {"-m or --echo-maxbytes has bad argument(should>0)\n", kHelpHint},
                   {}},
        OptionCase{"MaxBytesHexBeyond32Bits",
                   {"--echo-maxbytes=0x123456789", "COM3"},
                   2,
                   {"-m or --echo-maxbytes has bad argument(should>0)\n"},
                   {}},
        OptionCase{"MaxBytesBeyond64Bits",
                   {"-m", "99999999999999999999", "COM3"},
                   2,
                   {"-m or --echo-maxbytes has bad argument(should>0)\n"},
                   {}},
        OptionCase{"MaxBytes32BitEndPasses",
                   {"-m", "0xFFFFFFFF", "com7"},
                   1,
                   {"CreateFile('com7') fail."},
                   {"bad argument", kHelpHint}},
        OptionCase{
            "ChunkMinTooSmall",
            {"--echo-chunk-minbytes=11", "COM3"},
            2,
            {"-k or --echo-chunk-minbytes has bad argument(should between 12 and 8024012)\n"},
            {"-k value must not be larger"}},
        OptionCase{
            "ChunkMaxTooLarge",
            {"-K", "8024013", "COM3"},
            2,
            {"-K or --echo-chunk-maxbytes has bad argument(should between 12 and 8024012)\n"},
            {}},
        OptionCase{
            "ChunkMaxBeyond32Bits",
            {"-K", "4294967308", "COM3"},
            2,
            {"-K or --echo-chunk-maxbytes has bad argument(should between 12 and 8024012)\n"},
            {}},
        OptionCase{"OtherTimeoutsBelowMinusOne",
                   {"--rtom=-2", "--rtoc=-3", "--wtoc=-9", "COM3"},
                   2,
                   {"--rtom has bad argument(should>=0 or -1)\n",
                    "--rtoc has bad argument(should>=0 or -1)\n",
                    "--wtoc has bad argument(should>=0 or -1)\n", kHelpHint},
                   {"--rtoi has", "--wtom has"}},
        OptionCase{"TimeoutBeyond32Bits",
                   {"--rtoi=-4294967295", "COM3"},
                   2,
                   {"--rtoi has bad argument(should>=0 or -1)\n"},
                   {}},
        OptionCase{"UnknownShortOption",
                   {"-x", "COM3"},
                   2,
                   {"Bad short option '-x'.\n", kHelpHint},
                   {"missing an argument"}},
        OptionCase{"QuickReadMissingArgument",
                   {"COM3", "-Q"},
                   2,
                   {"Short option '-Q' missing an argument.\n"},
                   {}},
        OptionCase{"FlagGivenAnArgument",
                   {"--readonly=1", "COM3"},
                   2,
                   {"Bad long option '--readonly=1'\n"},
                   {}},
        OptionCase{"RangeEndsPass",
                   {"-b", "8123999", "-K", "8024012", "-k", "8024012", "-m", "0", "com7"},
                   1,
                   {"CreateFile('com7') fail."},
                   {"bad argument", "must not be larger", kHelpHint}},
        OptionCase{"RtoiMinusOnePasses",
                   {"--rtoi=-1", "--bytesrw=0x10", "com7"},
                   1,
                   {"CreateFile('com7') fail."},
                   {"bad argument", kHelpHint}}),
    [](const ::testing::TestParamInfo<OptionCase>& info) { return std::string(info.param.name); });

}  // namespace
