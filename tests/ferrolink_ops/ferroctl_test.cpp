// The ferroctl verbs for commands, identity, images, firmware and the
// operation log, run as a real program against a simulated scanner.
#include <gtest/gtest.h>

#include <png.h>
#include <sys/wait.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "ops_fixture.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class OpsFerroctl : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* bin = std::getenv("SUITE_BIN_DIR");
        ASSERT_NE(bin, nullptr);
        binDir = bin;
        // A copy beside a log folder of its own: the operation log lives beside the program.
        program = dir.Path() / "ferroctl";
        fs::copy_file(binDir / "ferroctl", program);
        fs::create_directory(dir.Path() / "log");
    }

    Outcome Run(const std::string& arguments) {
        const fs::path errFile = dir.Path() / "stderr.txt";
        const std::string command = "TIDESTREAM_LOG_LEVEL=0 LD_LIBRARY_PATH='" + binDir.string() +
                                    "' '" + program.string() + "' " + arguments + " 2>'" +
                                    errFile.string() + "'";
        Outcome outcome;
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr)
            return outcome;
        std::array<char, 4096> chunk{};
        size_t n = 0;
        while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
            outcome.out.append(chunk.data(), n);
        }
        const int raw = pclose(pipe);
        outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        outcome.err = Slurp(errFile);
        return outcome;
    }

    support::RuntimeDir ns{"ferrolink-ops-ns"};
    support::TempDir dir{"ferrolink-ops-ctl"};
    fs::path binDir;
    fs::path program;
};

TEST_F(OpsFerroctl, SendReportsReplyAndExitStatus) {
    auto scanner = ops_test::StartUsbScanner("ctl01");
    ASSERT_NE(scanner, nullptr);
    struct Case {
        std::string arguments;
        int status;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {"send QRYPSN", 0, "QRYPSNSIM0001\\x06;\\x03\n", ""},
        {"send NOSUCH", 1, "NOSUCH\\x15;\\x03\n",
         "ferroctl: the device did not acknowledge NOSUCH\n"},
        {"send --hex '1B 51'", 0, "NOREAD\\x0D\n", ""},
        {"send --hex 1B5", 2, "",
         "ferroctl: --hex needs pairs of hex digits (no 00), at most 1023 bytes (try 'ferroctl "
         "send --help')\n"},
        {"send --com", 2, "", "ferroctl: --com needs a number (try 'ferroctl send --help')\n"},
    };
    for (const Case& c : cases) {
        const Outcome outcome = Run(c.arguments);
        EXPECT_EQ(outcome.status, c.status) << c.arguments;
        EXPECT_EQ(outcome.out, c.out) << c.arguments;
        EXPECT_EQ(outcome.err, c.err) << c.arguments;
    }
}

TEST_F(OpsFerroctl, WithoutScannerEveryDeviceVerbFailsWithOneLine) {
    // The firmware file is good: compare looks at it before the scanner.
    const fs::path firmware = dir.Path() / "app.bin";
    ops_test::WriteFirmwareFile(firmware, 2, "V5.0.0", 100);
    for (const std::string& arguments :
         std::vector<std::string>{"send QRYPSN", "identity show", "image x.pgm",
                                  "compare '" + firmware.string() + "'"}) {
        const Outcome outcome = Run(arguments);
        EXPECT_EQ(outcome.status, 1) << arguments;
        EXPECT_EQ(outcome.err, "ferroctl: no scanner found\n") << arguments;
    }
}

TEST_F(OpsFerroctl, IdentityVerbsChangeTheScanner) {
    auto scanner = ops_test::StartUsbScanner("ctl02");
    ASSERT_NE(scanner, nullptr);
    EXPECT_EQ(Run("identity name 'Desk Reader'").status, 0);
    EXPECT_EQ(Run("identity info 11 22 33").status, 0);
    EXPECT_EQ(Run("identity mode 7").status, 0);
    EXPECT_EQ(scanner->GetIdentity().productName, "Desk Reader");
    EXPECT_EQ(scanner->GetIdentity().esn, "11:22:7");
    const Outcome shown = Run("identity show");
    EXPECT_EQ(shown.status, 0);
    EXPECT_NE(shown.out.find("Product Name: Desk Reader\n"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("Device Info: 11:22:7\n"), std::string::npos) << shown.out;
    EXPECT_EQ(Run("identity mode").status, 2);
}

TEST_F(OpsFerroctl, ImageIsWrittenAsAGraymap) {
    auto scanner = ops_test::StartUsbScanner("ctl03");
    ASSERT_NE(scanner, nullptr);
    scanner->SetImageSize(320, 240);
    const fs::path file = dir.Path() / "shot.pgm";
    const Outcome outcome = Run("image '" + file.string() + "'");
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    const std::string image = Slurp(file);
    const std::string header = "P5\n320 240\n255\n";
    ASSERT_EQ(image.size(), header.size() + 320 * 240);
    EXPECT_EQ(image.substr(0, header.size()), header);
    EXPECT_EQ(image.find('\0', header.size()), std::string::npos) << "no hole in the pixels";
}

// Answers no buffer of ferroctl's could hold once crashed it: each now ends
// with status 1 and one line saying why, and no image file is left.
TEST_F(OpsFerroctl, OverlongAndMalformedAnswersEndWithStatusOneAndALine) {
    const std::string longEsn(100 * 1000, '7');
    struct Case {
        const char* what;
        std::function<void(scansim::Scanner&)> arrange;
        std::string arguments;
        std::string err;
    };
    const fs::path file = dir.Path() / "shot.pgm";
    const Case cases[] = {
        {"a 100 KB device info",
         [&](scansim::Scanner& s) {
             scansim::Identity identity = s.GetIdentity();
             identity.esn = longEsn;
             s.SetIdentity(identity);
         },
         "identity show", "ferroctl: the device info answer is longer than 1023 bytes\n"},
        {"a reply without end",
         [](scansim::Scanner& s) {
             s.SetFault({scansim::Fault::Kind::kEndless, 0, 1});
         },
         "send QRYESN", "ferroctl: the device did not acknowledge QRYESN\n"},
        {"an image header of non-digits",
         [](scansim::Scanner& s) {
             s.SetImageAnswer(scansim::ImageAnswer{"IMGGETabcdefghijklmn", 1000});
         },
         "image '" + file.string() + "'",
         "ferroctl: no whole image came (no answer, or a malformed or cut image reply)\n"},
        {"an image header of a huge size",
         [](scansim::Scanner& s) {
             s.SetImageAnswer(
                 scansim::ImageAnswer{"IMGGET99999999999999", scansim::ImageAnswer::kEndless});
         },
         "image '" + file.string() + "'",
         "ferroctl: no whole image came (no answer, or a malformed or cut image reply)\n"},
    };
    // A scanner of its own for each case: one that was told to talk without
    // end may still be finishing a piece when the next case opens the port.
    for (const Case& c : cases) {
        auto scanner = ops_test::StartUsbScanner("ctl04");
        ASSERT_NE(scanner, nullptr);
        c.arrange(*scanner);
        const Outcome outcome = Run(c.arguments);
        EXPECT_EQ(outcome.status, 1) << c.what;
        EXPECT_EQ(outcome.err, c.err) << c.what;
        EXPECT_FALSE(fs::exists(file)) << c.what;
    }
    // The long answer itself is no fault: sent as a command it is printed whole.
    auto scanner = ops_test::StartUsbScanner("ctl04");
    ASSERT_NE(scanner, nullptr);
    scansim::Identity identity;
    identity.esn = longEsn;
    scanner->SetIdentity(identity);
    const Outcome sent = Run("send QRYESN");
    EXPECT_EQ(sent.status, 0) << sent.err;
    EXPECT_EQ(sent.out, "QRYESN" + longEsn + "\\x06;\\x03\n");
}

TEST_F(OpsFerroctl, FlashCompareAndTheOperationLog) {
    auto scanner = ops_test::StartUsbScanner("ctl04");
    ASSERT_NE(scanner, nullptr);
    const fs::path firmware = dir.Path() / "app-v5.bin";
    ops_test::WriteFirmwareFile(firmware, 2, "V5.0.0", 3000);
    EXPECT_EQ(Run("compare '" + firmware.string() + "'").status, 1);
    const Outcome flashed = Run("flash '" + firmware.string() + "'");
    EXPECT_EQ(flashed.status, 0) << flashed.err;
    // Not a terminal: plain lines, no carriage returns.
    EXPECT_EQ(flashed.err.find('\r'), std::string::npos);
    EXPECT_NE(flashed.err.find("done"), std::string::npos) << flashed.err;
    EXPECT_EQ(scanner->GetIdentity().firmwareVersion, "V5.0.0");
    EXPECT_EQ(Run("compare '" + firmware.string() + "'").status, 0);

    const Outcome log = Run("oplog");
    EXPECT_EQ(log.status, 0) << log.err;
    EXPECT_NE(log.out.find("Update"), std::string::npos) << log.out;
    EXPECT_NE(log.out.find("SN=SIM0001  error=0  " + firmware.string()), std::string::npos)
        << log.out;
    const Outcome missing = Run("oplog 1999-01-01");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("no operation log"), std::string::npos);
}

}  // namespace

namespace {

// Runs ferroctl in `dir` with the library's log level left unset, as a user
// would: the lines on standard error are ferroctl's own.
Outcome RunAsUser(const fs::path& program, const fs::path& binDir, const fs::path& dir,
                  const std::string& arguments) {
    const fs::path outFile = dir / "stdout.txt";
    const fs::path errFile = dir / "stderr.txt";
    const std::string command = "cd '" + dir.string() + "' && env -u TIDESTREAM_LOG_LEVEL " +
                                "LD_LIBRARY_PATH='" + binDir.string() + "' '" + program.string() +
                                "' " + arguments + " >'" + outFile.string() + "' 2>'" +
                                errFile.string() + "'";
    const int raw = std::system(command.c_str());
    Outcome outcome;
    outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    outcome.out = Slurp(outFile);
    outcome.err = Slurp(errFile);
    return outcome;
}

// The lines of standard error that are not progress lines ("<what> ... <state>").
std::vector<std::string> MessageLines(const std::string& err) {
    std::vector<std::string> lines;
    std::istringstream in(err);
    for (std::string line; std::getline(in, line);) {
        if (line.find(" ... ") == std::string::npos)
            lines.push_back(line);
    }
    return lines;
}

// A time-stamped line of the library's log ("2026-01-31 14:02:03.123 [2] ...").
bool HasLibraryLogLine(const std::string& err) {
    static const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\d\])");
    return std::regex_search(err, stamp);
}

}  // namespace

// Each way a verb can fail ends with its status (1 for what the scanner, port
// or file refused, 2 for the command line) and exactly one line saying what
// and why. The file cases run before any scanner exists: the file is looked
// at first, so they name the file and not the missing scanner.
TEST_F(OpsFerroctl, FailuresEndWithTheirStatusAndOneLine) {
    fs::create_directory(dir.Path() / "sub");
    std::ofstream(dir.Path() / "empty.bin").close();
    {
        std::string noise(5000, '\0');
        for (size_t i = 0; i < noise.size(); ++i)
            noise[i] = static_cast<char>((i * 2654435761u) >> 13);
        std::ofstream(dir.Path() / "random.bin", std::ios::binary) << noise;
    }
    ops_test::WriteFirmwareFile(dir.Path() / "damaged.bin", 2, "V5.0.0", 3000);
    {
        std::fstream damaged(dir.Path() / "damaged.bin",
                             std::ios::binary | std::ios::in | std::ios::out);
        damaged.seekp(4000);
        damaged.put('\x55');
    }
    std::ofstream(dir.Path() / "refused.xml")
        << "<Tarnwell><Command CommandName=\"ALLENA\" Value=\"1\"/>"
           "<Command CommandName=\"232BAD\" Value=\"99\"/></Tarnwell>";
    struct Case {
        bool scanners;  // run with a USB scanner and one on COM31
        std::string arguments;
        int status;
        std::string line;
    };
    const std::string ns_ = ns.Path().string();
    const Case cases[] = {
        {false, "identity --com 5", 1,
         "ferroctl: COM5: no such port (no live link dosdevices/COM5 in " + ns_ + ")"},
        {false, "flash missing.bin", 1, "ferroctl: missing.bin: No such file or directory"},
        {false, "flash sub", 1, "ferroctl: sub: Is a directory"},
        {false, "flash empty.bin", 1, "ferroctl: empty.bin: empty file, not a firmware file"},
        {false, "flash random.bin", 1, "ferroctl: random.bin: not a firmware file"},
        {false, "flash compare random.bin", 1, "ferroctl: random.bin: not a firmware file"},
        {false, "flash damaged.bin", 1,
         "ferroctl: damaged.bin: damaged firmware file (the image does not match its header's "
         "CRC)"},
        {false, "write-config --com 31 absent.xml", 1,
         "ferroctl: absent.xml: No such file or directory"},
        {false, "image shot.jpg", 2,
         "ferroctl: shot.jpg: the output file must end in .png or .pgm (try 'ferroctl image "
         "--help')"},
        {false, "list --bogus", 2, "ferroctl: unknown option --bogus (try 'ferroctl list --help')"},
        {false, "send --json QRYPSN", 2,
         "ferroctl: send has no JSON output (try 'ferroctl send --help')"},
        {false, "frobnicate", 2, "ferroctl: unknown verb 'frobnicate' (try 'ferroctl --help')"},
        {false, "watch --index x", 2,
         "ferroctl: --index needs a number from 0 to 19 (try 'ferroctl watch --help')"},
        {true, "watch --index 9", 1, "ferroctl: no scanner at index 9 (2 found, numbered from 0)"},
        {true, "write-config --com 31 refused.xml", 1,
         "ferroctl: refused.xml: the scanner refused 1 setting: 232BAD99 (NAK)"},
        {true, "write-config --port 31 refused.xml", 1,
         "ferroctl: refused.xml: the scanner refused 1 setting: 232BAD99 (NAK)"},
    };
    std::unique_ptr<scansim::Scanner> usb;
    std::unique_ptr<scansim::Scanner> com;
    for (const Case& c : cases) {
        if (c.scanners && usb == nullptr) {
            usb = ops_test::StartUsbScanner("cli01");
            com = ops_test::StartComScanner(31);
            ASSERT_NE(usb, nullptr);
            ASSERT_NE(com, nullptr);
        }
        const Outcome outcome = RunAsUser(program, binDir, dir.Path(), c.arguments);
        EXPECT_EQ(outcome.status, c.status) << c.arguments << "\n" << outcome.err;
        EXPECT_EQ(MessageLines(outcome.err), std::vector<std::string>{c.line}) << c.arguments;
        EXPECT_FALSE(HasLibraryLogLine(outcome.err)) << c.arguments << "\n" << outcome.err;
    }
    // What was refused was all that was wrong: the rest of the set was taken.
    EXPECT_EQ(com->SettingValue("ALLENA"), "1");
}

// The library's own time-stamped lines come through when asked for.
TEST_F(OpsFerroctl, VerboseLetsTheLibraryLogThrough) {
    auto scanner = ops_test::StartUsbScanner("cli02");
    ASSERT_NE(scanner, nullptr);
    const Outcome quiet = RunAsUser(program, binDir, dir.Path(), "list");
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");
    const Outcome verbose = RunAsUser(program, binDir, dir.Path(), "-v list");
    EXPECT_EQ(verbose.status, 0);
    EXPECT_TRUE(HasLibraryLogLine(verbose.err)) << verbose.err;
    EXPECT_EQ(verbose.out, quiet.out);
}

// list --json is one JSON document that python's json.tool takes; the table
// keeps its columns with an 80-character port path.
TEST_F(OpsFerroctl, ListAsJsonAndAsATableThatFits) {
    const std::string longSerial(48, 'l');
    auto a = ops_test::StartUsbScanner("cli03");
    auto b = ops_test::StartUsbScanner(longSerial);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    // The status is python's: it fails on anything but one JSON document.
    const Outcome checked =
        RunAsUser(program, binDir, dir.Path(), "list --json | python3 -m json.tool");
    EXPECT_EQ(checked.status, 0) << checked.err;
    const auto list = nlohmann::json::parse(checked.out);
    ASSERT_TRUE(list.is_array());
    ASSERT_EQ(list.size(), 2u) << list;
    EXPECT_EQ(list[0]["index"], 0);
    EXPECT_EQ(list[0]["type"], "USB");
    EXPECT_EQ(list[0]["product"], "KTR Sim Scanner");
    EXPECT_EQ(list[0]["serial"], "SIM0001");
    EXPECT_EQ(list[0]["firmware"], "V1.0.0");
    EXPECT_EQ(list[1]["port"], "\\\\?\\usb#vid_1eab&pid_0d10#" + longSerial +
                                   "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}");

    const Outcome table = RunAsUser(program, binDir, dir.Path(), "list");
    EXPECT_EQ(table.status, 0) << table.err;
    std::istringstream rows(table.out);
    std::string header;
    std::getline(rows, header);
    const size_t productColumn = header.find("product");
    ASSERT_NE(productColumn, std::string::npos) << table.out;
    int count = 0;
    for (std::string row; std::getline(rows, row); ++count) {
        EXPECT_EQ(row.find("KTR Sim Scanner"), productColumn) << table.out;
        EXPECT_EQ(row[productColumn - 1], ' ') << table.out;
        EXPECT_EQ(row[productColumn - 2], ' ') << "two blanks between columns\n" << table.out;
    }
    EXPECT_EQ(count, 2) << table.out;
    const Outcome none = RunAsUser(program, binDir, dir.Path(), "list --json --bogus");
    EXPECT_EQ(none.status, 2);
}

TEST_F(OpsFerroctl, IdentityAndCompareAsJson) {
    auto scanner = ops_test::StartUsbScanner("cli04");
    ASSERT_NE(scanner, nullptr);
    const Outcome identity = RunAsUser(program, binDir, dir.Path(), "identity show --json");
    ASSERT_EQ(identity.status, 0) << identity.err;
    const auto shown = nlohmann::json::parse(identity.out);
    EXPECT_EQ(shown["product"], "KTR Sim Scanner");
    EXPECT_EQ(shown["serial"], "SIM0001");
    EXPECT_EQ(shown["firmware"], "V1.0.0");
    EXPECT_TRUE(shown["device_info"].is_string()) << shown;

    ops_test::WriteFirmwareFile(dir.Path() / "v5.bin", 2, "V5.0.0", 500);
    ops_test::WriteFirmwareFile(dir.Path() / "v1.bin", 2, "V1.0.0", 500);
    struct Case {
        const char* file;
        int status;
        bool same;
        const char* version;
    };
    for (const Case& c : {Case{"v5.bin", 1, false, "V5.0.0"}, Case{"v1.bin", 0, true, "V1.0.0"}}) {
        const Outcome compared =
            RunAsUser(program, binDir, dir.Path(), std::string("flash compare --json ") + c.file);
        EXPECT_EQ(compared.status, c.status) << c.file << compared.err;
        const auto result = nlohmann::json::parse(compared.out);
        EXPECT_EQ(result["same"], c.same) << c.file;
        EXPECT_EQ(result["file_version"], c.version) << c.file;
        EXPECT_EQ(result["scanner_version"], "V1.0.0") << c.file;
        EXPECT_EQ(result["kind"], "application") << c.file;
    }
}

// Scans and connection changes as they happen, one JSON object per line; an
// unplugged scanner that comes back is watched again.
TEST_F(OpsFerroctl, WatchAsJsonFollowsTheScannerThroughAReplug) {
    auto scanner = ops_test::StartUsbScanner("cli05");
    ASSERT_NE(scanner, nullptr);
    support::ChildOptions options;
    options.set = {{"LD_LIBRARY_PATH", binDir.string()}};
    options.unset = {"TIDESTREAM_LOG_LEVEL"};
    options.mergeStderr = false;
    support::ChildProcess watch(program.string(), {"watch", "--json"}, options);
    ASSERT_TRUE(watch.Started());
    auto next = [&] {
        const std::string line = watch.ReadLine();
        EXPECT_FALSE(line.empty()) << "no line within the time limit; so far:\n" << watch.Output();
        return line.empty() ? nlohmann::json::object() : nlohmann::json::parse(line);
    };
    auto first = next();
    EXPECT_EQ(first["event"], "connection");
    EXPECT_EQ(first["state"], "connected");
    EXPECT_EQ(first["reconnected"], false);
    EXPECT_EQ(first["serial"], "SIM0001");

    struct Scan {
        std::string bytes;
        std::string hex;
        std::optional<std::string> text;  // none: not text in any encoding
    };
    const Scan before[] = {
        {"Gr\xC3\xBC\xC3\x9F"
         "e",
         "4772c3bcc39f65",
         "Gr\xC3\xBC\xC3\x9F"
         "e"},
        {"\x1B[2J", "1b5b324a", "\x1B[2J"},
        {"\xFF\xFE\x01", "fffe01", std::nullopt},
    };
    auto expectScan = [&](const Scan& scan) {
        ASSERT_TRUE(scanner->SendScan(scan.bytes));
        const auto event = next();
        EXPECT_EQ(event["event"], "scan") << event;
        EXPECT_EQ(event["length"], scan.bytes.size()) << event;
        EXPECT_EQ(event["hex"], scan.hex) << event;
        if (scan.text) {
            EXPECT_EQ(event["text"], *scan.text) << event;
            EXPECT_EQ(event["encoding"], "UTF-8") << event;
        } else {
            EXPECT_FALSE(event.contains("text")) << event;
        }
    };
    for (const Scan& scan : before)
        expectScan(scan);

    ASSERT_TRUE(scanner->Unplug());
    auto gone = next();
    EXPECT_EQ(gone["event"], "connection");
    EXPECT_EQ(gone["state"], "not connected");
    ASSERT_TRUE(scanner->Plug());
    auto back = next();
    EXPECT_EQ(back["event"], "connection");
    EXPECT_EQ(back["state"], "connected");
    EXPECT_EQ(back["reconnected"], true);
    expectScan({"after replug", "6166746572207265706c7567", "after replug"});

    // A second round: the watch holds the scanner it found again.
    ASSERT_TRUE(scanner->Unplug());
    EXPECT_EQ(next()["state"], "not connected");
    ASSERT_TRUE(scanner->Plug());
    EXPECT_EQ(next()["reconnected"], true);
    expectScan({"third", "7468697264", "third"});

    watch.Signal(SIGINT);
    EXPECT_EQ(watch.Finish(), 0);
}

// The human form: text that decodes is shown as text, in UTF-8 or the code
// page asked for; control bytes and what does not decode as \xNN, so nothing
// a scanner sends reaches the terminal as a control sequence.
TEST_F(OpsFerroctl, WatchShowsScansAsTextWithControlsEscaped) {
    auto scanner = ops_test::StartUsbScanner("cli06");
    ASSERT_NE(scanner, nullptr);
    support::ChildOptions options;
    options.set = {{"LD_LIBRARY_PATH", binDir.string()}, {"LC_ALL", "C.UTF-8"}};
    support::ChildProcess watch(program.string(), {"watch", "--codepage", "936"}, options);
    ASSERT_TRUE(watch.Started());
    ASSERT_TRUE(watch.WaitFor("watching KTR Sim Scanner (")) << watch.Output();
    ASSERT_FALSE(watch.ReadLine().empty());
    const std::pair<std::string, std::string> cases[] = {
        {"Gr\xC3\xBC\xC3\x9F"
         "e",
         "scan (7 bytes): Gr\xC3\xBC\xC3\x9F"
         "e"},
        {"\xD6\xD0\xCE\xC4", "scan (4 bytes): \xE4\xB8\xAD\xE6\x96\x87"},  // GBK for "中文"
        {"a\x1B[31mb\r", "scan (8 bytes): a\\x1B[31mb\\x0D"},
        {"back\\slash", "scan (10 bytes): back\\\\slash"},
        {"\xFF\x80z", "scan (3 bytes): \\xFF\\x80z"},
    };
    for (const auto& [bytes, line] : cases) {
        ASSERT_TRUE(scanner->SendScan(bytes));
        EXPECT_EQ(watch.ReadLine(), line);
    }
    watch.Signal(SIGINT);
    EXPECT_EQ(watch.Finish(), 0);
}

// save-config leaves the current folder as it was (a test.xml there is
// the user's) and replaces FILE whole, a link at FILE included, without
// writing through it.
TEST_F(OpsFerroctl, SaveConfigWritesOnlyTheFileNamed) {
    auto scanner = ops_test::StartComScanner(32);
    ASSERT_NE(scanner, nullptr);
    ASSERT_TRUE(scanner->SetSetting("232BAD", "3"));
    const fs::path work = dir.Path() / "work";
    fs::create_directory(work);
    std::ofstream(work / "test.xml") << "the user's own test.xml";
    std::ofstream(dir.Path() / "elsewhere.txt") << "not to be written through a link";
    fs::create_symlink(dir.Path() / "elsewhere.txt", work / "linked.xml");
    fs::create_directory(dir.Path() / "out");

    for (const std::string target : {"../out/saved.xml", "linked.xml"}) {
        const Outcome saved = RunAsUser(program, binDir, work, "save-config --com 32 " + target);
        EXPECT_EQ(saved.status, 0) << target << saved.err;
        const std::string text = Slurp(work / target);
        EXPECT_NE(text.find("CommandName=\"232BAD\""), std::string::npos) << target << text;
        EXPECT_FALSE(fs::is_symlink(work / target)) << target;
    }
    EXPECT_EQ(Slurp(work / "test.xml"), "the user's own test.xml");
    EXPECT_EQ(Slurp(dir.Path() / "elsewhere.txt"), "not to be written through a link");
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(work))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left,
              (std::vector<std::string>{"linked.xml", "stderr.txt", "stdout.txt", "test.xml"}))
        << "no temporary file is left behind";
}

// .png is a PNG of the same pixels the .pgm holds.
TEST_F(OpsFerroctl, ImageAsPngHoldsThePixelsOfTheGraymap) {
    auto scanner = ops_test::StartUsbScanner("cli07");
    ASSERT_NE(scanner, nullptr);
    scanner->SetImageSize(64, 48);
    ASSERT_EQ(RunAsUser(program, binDir, dir.Path(), "image shot.pgm").status, 0);
    ASSERT_EQ(RunAsUser(program, binDir, dir.Path(), "image SHOT.PNG").status, 0);
    const std::string pgm = Slurp(dir.Path() / "shot.pgm");
    const std::string header = "P5\n64 48\n255\n";
    ASSERT_EQ(pgm.substr(0, header.size()), header);

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_NE(png_image_begin_read_from_file(&image, (dir.Path() / "SHOT.PNG").c_str()), 0)
        << image.message;
    EXPECT_EQ(image.width, 64u);
    EXPECT_EQ(image.height, 48u);
    image.format = PNG_FORMAT_GRAY;
    std::string pixels(PNG_IMAGE_SIZE(image), '\0');
    ASSERT_NE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr), 0)
        << image.message;
    EXPECT_EQ(pixels, pgm.substr(header.size()));
}

// Progress with numbers: without a terminal one line per further tenth,
// each with percentage, bytes, rate and time left, rising to 100 %.
TEST_F(OpsFerroctl, FlashProgressCountsTenthsOfTheBytes) {
    auto scanner = ops_test::StartUsbScanner("cli08");
    ASSERT_NE(scanner, nullptr);
    ops_test::WriteFirmwareFile(dir.Path() / "big.bin", 2, "V6.0.0", 200 * 1024);
    const Outcome flashed = RunAsUser(program, binDir, dir.Path(), "flash big.bin");
    ASSERT_EQ(flashed.status, 0) << flashed.err;
    EXPECT_EQ(flashed.err.find('\r'), std::string::npos);
    static const std::regex progress(
        R"(Updating SIM0001 with big\.bin \.\.\. +(\d+)% [\d.]+ (B|KiB) / 200\.0 KiB, [\d.]+ (B|KiB|MiB)/s, (\d+ s|\?) left)");
    std::istringstream lines(flashed.err);
    std::vector<int> percents;
    std::string last;
    for (std::string line; std::getline(lines, line); last = line) {
        std::smatch match;
        if (std::regex_match(line, match, progress))
            percents.push_back(std::stoi(match[1]));
    }
    ASSERT_GE(percents.size(), 2u) << flashed.err;
    EXPECT_EQ(percents.back(), 100) << flashed.err;
    for (size_t i = 1; i < percents.size(); ++i)
        EXPECT_GT(percents[i] / 10, percents[i - 1] / 10) << "one line per tenth\n" << flashed.err;
    EXPECT_NE(last.find("Updating SIM0001 with big.bin ... done ("), std::string::npos) << last;
    EXPECT_EQ(scanner->GetIdentity().firmwareVersion, "V6.0.0");
}

// A scanner's texts reach the terminal with their control characters
// escaped: a product name cannot recolour or clear the terminal. A
// COM port given by number is identified like a discovered scanner.
TEST_F(OpsFerroctl, DeviceTextsAreEscapedOnTheTerminal) {
    auto scanner = ops_test::StartComScanner(33);
    ASSERT_NE(scanner, nullptr);
    scansim::Identity identity;
    identity.productName = "Evil\x1B[31mRed\x07\xC2\x85Z";
    identity.serialNumber = "SN\x1B[2J";
    identity.esn = "11:22:\x1B[1m";
    scanner->SetIdentity(identity);
    const Outcome shown = RunAsUser(program, binDir, dir.Path(), "identity --com 33 show");
    EXPECT_EQ(shown.status, 0) << shown.err;
    EXPECT_NE(shown.out.find("Product Name: Evil\\x1B[31mRed\\x07\\u0085Z\n"), std::string::npos)
        << shown.out;
    EXPECT_NE(shown.out.find("Serial Number: SN\\x1B[2J\n"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("Device Info: 11:22:\\x1B[1m\n"), std::string::npos) << shown.out;
    const Outcome listed = RunAsUser(program, binDir, dir.Path(), "list");
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(listed.out.find("COM33@115200"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("Evil\\x1B[31mRed\\x07\\u0085Z"), std::string::npos) << listed.out;
    for (const Outcome* outcome : {&shown, &listed}) {
        EXPECT_EQ(outcome->out.find('\x1B'), std::string::npos) << outcome->out;
        EXPECT_EQ(outcome->out.find('\x07'), std::string::npos) << outcome->out;
    }
}

// A scanner that stops answering in the middle of an update: status 1 and one
// line that keeps "firmware update failed" and names scanner, file and where
// it stopped; the library's own error lines stay out of standard error.
TEST_F(OpsFerroctl, AFailedUpdateSaysWhereItStopped) {
    auto scanner = ops_test::StartUsbScanner("cli09");
    ASSERT_NE(scanner, nullptr);
    ops_test::WriteFirmwareFile(dir.Path() / "big.bin", 2, "V7.0.0", 4 * 1024 * 1024);
    support::ChildOptions options;
    options.set = {{"LD_LIBRARY_PATH", binDir.string()}};
    options.unset = {"TIDESTREAM_LOG_LEVEL"};
    support::ChildProcess flash(program.string(), {"flash", (dir.Path() / "big.bin").string()},
                                options);
    ASSERT_TRUE(flash.Started());
    // The first line comes as the transfer starts, after discovery is done.
    ASSERT_TRUE(flash.WaitFor("Updating SIM0001 with ")) << flash.Output();
    scanner->SetFault({scansim::Fault::Kind::kSilence, 0, 1});
    EXPECT_EQ(flash.Finish(), 1) << flash.Output();
    const std::vector<std::string> lines = MessageLines(flash.Output());
    ASSERT_EQ(lines.size(), 1u) << flash.Output();
    EXPECT_EQ(lines[0].rfind("ferroctl: firmware update failed: SIM0001, " +
                                 (dir.Path() / "big.bin").string() + ": ",
                             0),
              0u)
        << lines[0];
    EXPECT_FALSE(HasLibraryLogLine(flash.Output())) << flash.Output();
    EXPECT_NE(scanner->GetIdentity().firmwareVersion, "V7.0.0");
}
