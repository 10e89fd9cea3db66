// Output at the cursor end to end on a real X server: a simulated scanner,
// the real program with its window and tray icon, and a target window of our
// own whose focused text field reports every paste and every Return.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "support/quillon_process.h"
#include "support/x_session.h"

namespace fs = std::filesystem;

namespace {

struct CursorSettings {
    const char* workMode = "0";
    const char* enter = "1";
    int codePage = 1252;
    int hexOut = 0;
    const char* suffix = "\\r\\n";
    // Text the target application copied before the scans, if any.
    const char* userCopy = nullptr;
};

class CursorDelivery : public testing::Test {
  protected:
    void Start(const CursorSettings& settings) {
        ASSERT_TRUE(m_session.Start(true)) << m_session.Error();
        std::ofstream(m_home.IniFile())
            << "[init]\nlang=en\nWorkMode=" << settings.workMode << "\nEnter=" << settings.enter
            << "\nCodePage=" << settings.codePage << "\nHexOut=" << settings.hexOut << "\n";
        m_scanner = std::make_unique<ScannerProcess>(m_home, settings.suffix);
        ASSERT_TRUE(m_scanner->WaitPresent());
        m_quillon = std::make_unique<QuillonRun>(m_home, std::vector<std::string>{},
                                                 m_session.DisplayName());
        ASSERT_EQ(
            RunOnDisplay(m_session.DisplayName(),
                         "xdotool search --sync --onlyvisible --name '^Quillon V' >/dev/null"),
            0);
        // The target opens last and takes the focus; the pointer rests on it.
        std::vector<std::string> targetArguments;
        if (settings.userCopy != nullptr) {
            targetArguments = {"--copy", settings.userCopy};
        }
        m_target = std::make_unique<QuillonRun>(
            fs::path(std::getenv("SUITE_BIN_DIR")) / "quillon_paste_target", targetArguments,
            m_home.Environment(m_session.DisplayName()));
        ASSERT_TRUE(m_target->WaitFor("FOCUSED\n")) << m_target->Output();
        RunOnDisplay(m_session.DisplayName(), "xdotool mousemove 300 300");
    }

    void TearDown() override {
        if (m_quillon) {
            EXPECT_EQ(m_quillon->Stop(), 0) << m_quillon->Output();
        }
    }

    void Scan(const std::string& bytes) { m_scanner->Send(bytes); }
    bool Pasted(const std::string& text) { return m_target->WaitFor("PASTE " + text + "\n"); }

    XSession m_session;
    QuillonHome m_home;
    std::unique_ptr<ScannerProcess> m_scanner;
    std::unique_ptr<QuillonRun> m_quillon;
    std::unique_ptr<QuillonRun> m_target;
};

TEST_F(CursorDelivery, ScansArePastedAsTextFollowedByReturn) {
    Start({});
    struct Case {
        std::string bytes;
        std::string pasted;
    };
    const Case cases[] = {
        {"123", "123\\u000D\\u000A"},
        {"\xc3\x9c", "\\u00DC\\u000D\\u000A"},  // UTF-8
        {"\xdc", "\\u00DC\\u000D\\u000A"},      // code page 1252
        {"\xd6\xd0", "\\u00D6\\u00D0\\u000D\\u000A"},
    };
    for (const Case& c : cases) {
        Scan(c.bytes);
        ASSERT_TRUE(Pasted(c.pasted)) << m_target->Output();
        ASSERT_TRUE(m_target->WaitFor("RETURN\n")) << m_target->Output();
    }
}

TEST_F(CursorDelivery, BlocksWithinTheCollectDelayArePastedTogether) {
    Start({});
    Scan("AB");
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    Scan("CD");
    ASSERT_TRUE(Pasted("AB\\u000D\\u000ACD\\u000D\\u000A")) << m_target->Output();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    Scan("EF");
    ASSERT_TRUE(Pasted("EF\\u000D\\u000A")) << m_target->Output();
}

TEST_F(CursorDelivery, TheFixedRecordGoesOutInHexadecimalWithHexOut) {
    Start({.hexOut = 1});
    const std::string head = "\x81\x01\x69";
    // 366 units with the line end: hexadecimal.
    Scan(head + std::string(361, 'A'));
    std::string hex = "810169";
    for (int i = 0; i < 361; ++i) {
        hex += "41";
    }
    hex += "0D0A";
    ASSERT_EQ(hex.size(), 732u);
    ASSERT_TRUE(Pasted(hex)) << m_target->Output().substr(0, 2000);
    // 365 units: the text as it is.
    Scan(head + std::string(360, 'A'));
    ASSERT_TRUE(Pasted("\\u0081\\u0001i" + std::string(360, 'A') + "\\u000D\\u000A"))
        << m_target->Output().substr(0, 2000);
}

TEST_F(CursorDelivery, WithoutEnterNoReturnFollows) {
    Start({.enter = "0", .codePage = 0, .suffix = "\\r"});
    Scan("123");
    ASSERT_TRUE(Pasted("123\\u000D")) << m_target->Output();
    Scan("456");
    ASSERT_TRUE(Pasted("456\\u000D")) << m_target->Output();
    EXPECT_EQ(m_target->Output().find("RETURN"), std::string::npos) << m_target->Output();
}

TEST_F(CursorDelivery, TheUsersClipboardHoldsTheirOwnTextAgainAfterThreeScans) {
    Start({.userCopy = "the user's own text"});
    ASSERT_NE(m_target->Output().find("COPIED the user's own text\n"), std::string::npos)
        << m_target->Output();
    for (const std::string scan : {"111", "222", "333"}) {
        Scan(scan);
        // The clipboard holds the scan for the paste, then the user's text again.
        ASSERT_TRUE(m_target->WaitFor("CLIPBOARD " + scan + "\\u000D\\u000A\n"))
            << m_target->Output();
        ASSERT_TRUE(Pasted(scan + "\\u000D\\u000A")) << m_target->Output();
        ASSERT_TRUE(m_target->WaitFor("CLIPBOARD the user's own text\n")) << m_target->Output();
    }
}

TEST_F(CursorDelivery, OtherWorkModesPasteNothing) {
    Start({.workMode = "2"});
    Scan("NOT-PASTED");
    EXPECT_FALSE(m_target->WaitFor("PASTE", 2)) << m_target->Output();
}

}  // namespace
