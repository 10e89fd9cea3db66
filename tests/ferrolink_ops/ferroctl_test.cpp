// The ferroctl verbs for commands, identity, images, firmware and the
// operation log, run as a real program against a simulated scanner.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "ops_fixture.h"
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
