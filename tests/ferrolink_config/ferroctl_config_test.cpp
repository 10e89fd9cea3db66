// ferroctl's configuration verbs as a separate process against the simulator.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "scansim/scanner.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string err;
};

class FerroctlConfig : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = folder_.Path();
        ASSERT_FALSE(dir_.empty());
        scansim::ScannerOptions options;
        options.attachment = scansim::Attachment::kCom;
        options.comPort = 31;
        scanner_ = scansim::Scanner::Start(options);
        ASSERT_NE(scanner_, nullptr);
    }
    void TearDown() override { scanner_.reset(); }
    // Runs ferroctl in the test's directory; stderr goes to a file (not a terminal).
    Outcome Ferroctl(const std::string& args) {
        const char* bin = std::getenv("SUITE_BIN_DIR");
        const std::string command = "cd '" + dir_.string() + "' && '" +
                                    (fs::path(bin ? bin : ".") / "ferroctl").string() + "' " +
                                    args + " > out.txt 2> err.txt";
        Outcome run;
        const int raw = std::system(command.c_str());
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        std::ifstream in(dir_ / "err.txt");
        std::stringstream text;
        text << in.rdbuf();
        run.err = text.str();
        return run;
    }
    support::TempDir folder_{"ferroctl-config"};
    support::RuntimeDir runtime_{"ferroctl-config-ns"};
    fs::path dir_;
    std::unique_ptr<scansim::Scanner> scanner_;
};

TEST_F(FerroctlConfig, SavesAndWritesAConfigurationSet) {
    ASSERT_TRUE(scanner_->SetSetting("232BAD", "3"));
    Outcome save = Ferroctl("save-config --com 31 saved.xml");
    EXPECT_EQ(save.status, 0) << save.err;
    EXPECT_TRUE(fs::exists(dir_ / "saved.xml"));
    EXPECT_EQ(save.err.find('\r'), std::string::npos) << "plain lines when not on a terminal";

    ASSERT_TRUE(scanner_->SetSetting("232BAD", "5"));
    for (const char* form : {"--com 31", "--com 31 --unified --save-type", "--port 31"}) {
        ASSERT_TRUE(scanner_->SetSetting("232BAD", "5"));
        Outcome write = Ferroctl(std::string("write-config ") + form + " saved.xml");
        EXPECT_EQ(write.status, 0) << form << ": " << write.err;
        EXPECT_EQ(scanner_->SettingValue("232BAD"), "3") << form;
    }

    Outcome office = Ferroctl("save-office --com 31");
    EXPECT_EQ(office.status, 0) << office.err;
    EXPECT_TRUE(fs::exists(dir_ / "Office.xml"));
}

TEST_F(FerroctlConfig, FailuresEndWithOneErrorLine) {
    std::ofstream(dir_ / "broken.xml") << "<Tarnwell><Command";
    const char* cases[] = {"write-config --com 31 broken.xml",
                           "write-config --com 31 absent.xml",
                           "write-config --com 32 --port 32 valid.xml",
                           "save-office --com 99",
                           "save-config --com 99",
                           "write-config",
                           "save-config --bogus"};
    std::ofstream(dir_ / "valid.xml") << "<Tarnwell><Command CommandName=\"ALLENA\" Value=\"1\"/>"
                                         "</Tarnwell>";
    for (const char* args : cases) {
        Outcome run = Ferroctl(args);
        EXPECT_NE(run.status, 0) << args;
        const size_t errorLine = run.err.find("ferroctl: ");
        ASSERT_NE(errorLine, std::string::npos) << args << ": " << run.err;
        EXPECT_EQ(run.err.find('\n', errorLine), run.err.size() - 1) << args << ": " << run.err;
    }
}

// Without a terminal the download shows one line per further tenth of the
// settings sent, each with the count, rate and time left, up to 100 %.
TEST_F(FerroctlConfig, WriteProgressCountsTheSettingsSent) {
    {
        std::ofstream set(dir_ / "many.xml");
        set << "<Tarnwell>";
        for (int i = 0; i < 120; ++i)
            set << "<Command CommandName=\"ALLENA\" Value=\"1\"/>";
        set << "</Tarnwell>";
    }
    Outcome run = Ferroctl("write-config --com 31 many.xml");
    ASSERT_EQ(run.status, 0) << run.err;
    static const std::regex line(
        R"(Writing many\.xml \.\.\. +(\d+)% (\d+) / 120 settings, \d+ settings/s, (\d+ s|\?) left)");
    std::istringstream lines(run.err);
    std::vector<int> percents;
    for (std::string text; std::getline(lines, text);) {
        std::smatch match;
        if (std::regex_match(text, match, line))
            percents.push_back(std::stoi(match[1]));
    }
    ASSERT_GE(percents.size(), 3u) << "a start, a step between and the end\n" << run.err;
    EXPECT_EQ(percents.front(), 0) << run.err;
    EXPECT_EQ(percents.back(), 100) << run.err;
    for (size_t i = 1; i < percents.size(); ++i)
        EXPECT_GT(percents[i] / 10, percents[i - 1] / 10) << run.err;
}

// 300,000 nested elements would overflow the stack inside TinyXML: the file
// is refused with a message and status 1, and nothing reaches the scanner.
TEST_F(FerroctlConfig, DeeplyNestedSetIsRefusedBeforeItIsRead) {
    {
        std::ofstream deep(dir_ / "deep.xml");
        deep << "<Tarnwell><Command CommandName=\"ALLENA\" Value=\"1\"/>";
        for (int i = 0; i < 300000; ++i)
            deep << "<Command>";
        for (int i = 0; i < 300000; ++i)
            deep << "</Command>";
        deep << "</Tarnwell>";
    }
    scanner_->ClearLog();
    for (const char* form : {"--com 31", "--com 31 --unified", "--port 31"}) {
        Outcome run = Ferroctl(std::string("write-config ") + form + " deep.xml");
        EXPECT_EQ(run.status, 1) << form << ": " << run.err;
        EXPECT_NE(run.err.find("ferroctl: deep.xml nests its elements more than 256 levels deep"),
                  std::string::npos)
            << form << ": " << run.err;
    }
    EXPECT_TRUE(scanner_->Log().empty()) << "the scanner was sent something";
}

// With stderr on a terminal the progress line is rewritten in place.
TEST_F(FerroctlConfig, ProgressLineUpdatesInPlaceOnATerminal) {
    std::ofstream(dir_ / "one.xml") << "<Tarnwell><Command CommandName=\"ALLENA\" Value=\"0\"/>"
                                       "</Tarnwell>";
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const char* bin = std::getenv("SUITE_BIN_DIR");
    const std::string program = (fs::path(bin ? bin : ".") / "ferroctl").string();
    const std::string file = (dir_ / "one.xml").string();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(slave, STDERR_FILENO);
        ::close(master);
        ::execl(program.c_str(), program.c_str(), "write-config", "--com", "31", file.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(slave);
    std::string seen;
    char buffer[512];
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 30000) <= 0)
            break;
        const ssize_t n = ::read(master, buffer, sizeof(buffer));
        if (n <= 0)
            break;  // EIO once the child has gone
        seen.append(buffer, static_cast<size_t>(n));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
    // Redrawn in place with the numbers, the rest of a longer line erased.
    EXPECT_NE(seen.find("\rWriting " + file + " ...   0% 0 / 1 settings"), std::string::npos)
        << seen;
    EXPECT_NE(seen.find("\rWriting " + file + " ... 100% 1 / 1 settings"), std::string::npos)
        << seen;
    EXPECT_NE(seen.find("\033[K"), std::string::npos) << seen;
    EXPECT_NE(seen.find("done"), std::string::npos) << seen;
    EXPECT_EQ(scanner_->SettingValue("ALLENA"), "0");
}

}  // namespace
