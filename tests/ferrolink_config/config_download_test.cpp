// Batches, the final frame and refused answer parts of a configuration
// download, with the frames captured instead of sent.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "config_download.h"
#include "ferrolink/tidestream/tidestream.h"
#include "op_record.h"

namespace {

using ferrolink_config::ConfigFrame;
using ferrolink_config::ConfigSetElements;
using ferrolink_config::DownloadForm;

// The text between "@" and the closing ";" 0x03 of a frame.
std::string FrameText(const std::string& frame) {
    const std::string head = std::string("\x7E\x01") + "0000@";
    EXPECT_EQ(frame.compare(0, head.size(), head), 0) << frame;
    EXPECT_EQ(frame.substr(frame.size() - 2), ";\x03") << frame;
    return frame.substr(head.size(), frame.size() - head.size() - 2);
}

class ConfigDownload : public ::testing::Test {
  protected:
    void SetUp() override {
        g_nDeviceBufSize = 128;
        g_pSaveType = nullptr;
    }
    void TearDown() override {
        g_nDeviceBufSize = 128;
        g_pSaveType = nullptr;
    }
    // Runs the download; frames are answered true except the one numbered `failAt`.
    bool Run(const ConfigSetElements& elements, DownloadForm form, int failAt = -1) {
        frames_.clear();
        return ferrolink_config::DownloadConfigSet(elements, form, [&](const std::string& f) {
            frames_.push_back(f);
            return static_cast<int>(frames_.size()) - 1 != failAt;
        });
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const std::string& f : frames_)
            texts.push_back(FrameText(f));
        return texts;
    }
    std::vector<std::string> frames_;
};

TEST_F(ConfigDownload, FrameBytes) {
    EXPECT_EQ(ConfigFrame("ALLENA1,1DC0;APSENA1"),
              std::string("\x7E\x01") + "0000@ALLENA1,1DC0;APSENA1;\x03");
}

struct FormCase {
    const char* what;
    ConfigSetElements elements;
    DownloadForm form;
    bool saveType;
    std::vector<std::string> texts;  // every frame's text, the final one last
};

TEST_F(ConfigDownload, FramesOfBothFormsForTypicalSets) {
    const ConfigSetElements held = {{"232BAD", "6"}, {"INTERF", "0"}};
    const std::vector<FormCase> cases = {
        {"group joins by ','",
         {{"ALLENA", "1"}, {"ALL1DC", "0"}, {"APSENA", "1"}},
         DownloadForm::kRecord,
         false,
         {"ALLENA1,1DC0;APSENA1", "BASSFY;SAVEFY;BASRES"}},
        {"held back, record form",
         held,
         DownloadForm::kRecord,
         false,
         {"232BAD6;INTERF0;BASSFY;SAVEFY;BASRES"}},
        {"held back, unified form with save type",
         held,
         DownloadForm::kUnified,
         true,
         {"232BAD6;INTERF0;;CUSSAV"}},
        {"held back, unified form without save type",
         held,
         DownloadForm::kUnified,
         false,
         {"232BAD6;INTERF0;;"}},
        {"no INTERF",
         {{"232BAD", "6"}},
         DownloadForm::kRecord,
         false,
         {"232BAD6;BASSFY;SAVEFY;BASRES"}},
        {"two INTERF: the last counts",
         {{"INTERF", "1"}, {"INTERF", "3"}},
         DownloadForm::kRecord,
         false,
         {"INTERF3;BASSFY;SAVEFY;BASRES"}},
        {"slot order and list text",
         {{"KBWPOR", "2"},
          {"232AFL", "1"},
          {"INTERF", "0"},
          {"232PAR", "1"},
          {"232DAT", "0"},
          {"232STP", "1"},
          {"AUTOUR", "1"},
          {"IMGROI", "5"},
          {"232BAD", "4"}},
         DownloadForm::kRecord,
         false,
         {"AUTOUR1;232BAD4;232STP1;232DAT0;232PAR1;INTERF0;232AFL1;IMGROI5;KBWPOR2;"
          "BASSFY;SAVEFY;BASRES"}},
        {"AUTOUR ordinary in the unified form",
         {{"AUTOUR", "1"}, {"INTERF", "0"}},
         DownloadForm::kUnified,
         false,
         {"AUTOUR1", "INTERF0;;"}},
        {"empty switch skipped, zero sent, DFMSIN skipped",
         {{"ALLENA", ""}, {"APSENA", "0"}, {"DFMSIN", "3"}, {"CSUSET", ""}},
         DownloadForm::kRecord,
         false,
         {"APSENA0;CSUSET", "BASSFY;SAVEFY;BASRES"}},
        {"data format text",
         {{"DFMADD", "1:X;2:Y;3:Z"}},
         DownloadForm::kRecord,
         false,
         {"DFMCAL;DFMADDX;Y;;BASSFY;SAVEFY;BASRES"}},
        {"data format without pieces clears",
         {{"DFMSET", "0"}},
         DownloadForm::kUnified,
         false,
         {"DFMCAL;;"}},
    };
    for (const FormCase& c : cases) {
        g_pSaveType = c.saveType ? reinterpret_cast<void*>(1) : nullptr;
        EXPECT_TRUE(Run(c.elements, c.form)) << c.what;
        EXPECT_EQ(Texts(), c.texts) << c.what;
    }
}

// The switches that mean nothing without a value are left out of the set,
// each with a trace line that names it; the same name with a value goes out.
TEST_F(ConfigDownload, EmptySwitchesAreSkippedWithATraceLineEach) {
    struct Captured {
        std::mutex mutex;
        std::vector<std::string> lines;
    } captured;
    ::setenv("TIDESTREAM_LOG_LEVEL", "5", 1);
    qvds_set_log_hook(
        [](int level, const char* source, int line, const char* text, void* user) {
            auto* c = static_cast<Captured*>(user);
            if (std::strstr(text, "Skip CommandName") == nullptr)
                return;
            std::lock_guard<std::mutex> lock(c->mutex);
            c->lines.push_back(std::to_string(level) + " " + source + ":" + std::to_string(line) +
                               " " + text);
        },
        &captured);
    const ConfigSetElements set = {{"ALLENA", ""}, {"ALL1DC", ""}, {"ALL2DC", ""},
                                   {"ALLPST", ""}, {"APSENA", ""}, {"ALLENA", "0"}};
    const struct {
        DownloadForm form;
        const char* line;
    } cases[] = {{DownloadForm::kRecord, "4285"}, {DownloadForm::kUnified, "4518"}};
    for (const auto& c : cases) {
        {
            std::lock_guard<std::mutex> lock(captured.mutex);
            captured.lines.clear();
        }
        EXPECT_TRUE(Run(set, c.form));
        ASSERT_FALSE(Texts().empty());
        EXPECT_EQ(Texts().front(), "ALLENA0");
        std::vector<std::string> expected;
        for (const char* name : {"ALLENA", "ALL1DC", "ALL2DC", "ALLPST", "APSENA"})
            expected.push_back(std::string("5 Ferrolink:") + c.line + " Skip CommandName=" + name);
        std::lock_guard<std::mutex> lock(captured.mutex);
        EXPECT_EQ(captured.lines, expected) << c.line;
    }
    qvds_set_log_hook(nullptr, nullptr);
    ::unsetenv("TIDESTREAM_LOG_LEVEL");
}

ConfigSetElements ManySettings(int count) {
    ConfigSetElements elements;
    for (int i = 0; i < count; ++i) {
        // Runs of seven in one group, so both joins occur.
        elements.emplace_back(
            "G" + std::to_string((i / 7) % 8) + "S" + std::to_string(100 + i % 900),
            std::to_string(i));
    }
    return elements;
}

TEST_F(ConfigDownload, BatchIsSentOnceLongerThanTheBufferLessNine) {
    for (int bufferSize : {128, 300, 1024}) {
        g_nDeviceBufSize = bufferSize;
        ASSERT_TRUE(Run(ManySettings(400), DownloadForm::kRecord));
        const std::vector<std::string> texts = Texts();
        ASSERT_GT(texts.size(), 2u) << bufferSize;
        const size_t limit = static_cast<size_t>(bufferSize - 9);
        // Every batch but the last went out just after passing the limit:
        // without its last item it was within it.
        for (size_t i = 0; i + 2 < texts.size(); ++i) {
            EXPECT_GT(texts[i].size(), limit) << bufferSize << " frame " << i;
            const size_t cut = texts[i].find_last_of(";,");
            ASSERT_NE(cut, std::string::npos);
            EXPECT_LE(cut, limit) << bufferSize << " frame " << i;
        }
        EXPECT_LE(texts[texts.size() - 2].size(), limit + 16);
    }
}

TEST_F(ConfigDownload, ATinyBufferSizeNeverSplitsTheBatch) {
    g_nDeviceBufSize = 5;
    ASSERT_TRUE(Run(ManySettings(50), DownloadForm::kRecord));
    EXPECT_EQ(frames_.size(), 2u);
}

TEST_F(ConfigDownload, AFailedBatchEndsTheDownloadAndIsKeptAsTheError) {
    g_nDeviceBufSize = 128;
    EXPECT_FALSE(Run(ManySettings(100), DownloadForm::kRecord, 1));
    ASSERT_EQ(frames_.size(), 2u) << "nothing after the failed frame";
    EXPECT_STREQ(g_szLastConfigError, frames_[1].c_str());

    // A frame longer than the error text is cut to it.
    g_nDeviceBufSize = 100000;
    ConfigSetElements big = {{"CSUSET", std::string(6000, 'x')}, {"ALLENA", "1"}};
    EXPECT_FALSE(Run(big, DownloadForm::kRecord, 0));
    EXPECT_EQ(std::strlen(g_szLastConfigError), sizeof(g_szLastConfigError) - 1);

    // The final frame's failure is reported but not recorded.
    EXPECT_FALSE(Run({{"INTERF", "0"}}, DownloadForm::kRecord, 0));
    EXPECT_STREQ(g_szLastConfigError, "");
}

const std::string kHeader = std::string("\x02\x01") + "0000" + "0";

TEST(ConfigRefusedParts, RefusedPartsAreListedWithTheirStatusBytes) {
    struct Case {
        const char* what;
        std::string reply;
        std::string listed;
    } cases[] = {
        {"all accepted", kHeader + "A1\x06,B2\x06,C3\x06;\x03", ""},
        {"NAK in the middle", kHeader + "ALLENA1\x06,ALL1DC9\x15,APSENA1\x06;\x03", "ALL1DC9\x15|"},
        // The first part still carries the reply's header bytes.
        {"ENQ and other bytes", kHeader + "A1\x05,B2x,C3\x06;\x03", kHeader + "A1\x05|B2x|"},
        {"the last part of a piece goes unexamined", kHeader + "A1\x06,B2\x15;\x03", ""},
        {"a one-part reply goes unexamined", kHeader + "A1\x15;\x03", ""},
    };
    for (const Case& c : cases) {
        ferrolink_config::ClearConfigError();
        EXPECT_EQ(ferrolink_config::RecordRefusedParts(c.reply), !c.listed.empty()) << c.what;
        EXPECT_EQ(std::string(g_szLastConfigError), c.listed) << c.what;
        EXPECT_EQ(g_nConfigErrorLen, static_cast<int>(c.listed.size())) << c.what;
    }
}

TEST(ConfigRefusedParts, ManyRefusalsStayWithinTheErrorText) {
    ferrolink_config::ClearConfigError();
    std::string reply = kHeader;
    for (int i = 0; i < 600; ++i)
        reply += "ALLENA" + std::to_string(i) + "\x15,";
    reply += "END\x06;\x03";
    for (int round = 0; round < 3; ++round)
        ferrolink_config::RecordRefusedParts(reply);
    const size_t length = std::strlen(g_szLastConfigError);
    EXPECT_LT(length, sizeof(g_szLastConfigError));
    EXPECT_EQ(static_cast<size_t>(g_nConfigErrorLen), length);
    EXPECT_EQ(g_szLastConfigError[length - 1], '|') << "only whole parts are listed";
}

TEST(ConfigBufferSize, NumberOfTheBufferAnswer) {
    struct Case {
        std::string payload;
        int size;
    } cases[] = {{"BUFQRY1024\x06;\x03", 1024},
                 {"BUFQRY300\x06;\x03", 300},
                 {"BUFQRY\x06;\x03", -1},
                 {"BUFQRY12x\x06;\x03", -1},
                 {"BUFQRY" + std::string(15, '9') + "\x06;\x03", -1},
                 {"BUFQRY" + std::string(40, '1') + "\x06;\x03", -1},
                 {"", -1}};
    for (const Case& c : cases)
        EXPECT_EQ(ferrolink_config::ParseBufferSize(c.payload), c.size);
}

}  // namespace
