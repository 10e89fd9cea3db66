// The windows in both languages at scale 1 and 2 on a real X server: nothing
// cut or elided, Qt's own buttons in the language of the texts, and the
// screenshots kept as artifacts under the build folder
// (artifacts/quillon-layout/<language>-<scale>x/).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/quillon_process.h"
#include "support/temp_dir.h"
#include "support/x_session.h"

namespace fs = std::filesystem;

namespace {

struct ProbeResult {
    int status = -1;
    std::string output;
    std::vector<std::string> cuts;
    std::map<std::string, std::pair<int, int>> shots;  // name -> pixels
    std::vector<std::string> texts;
};

class Layout : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_session = new XSession;
        if (!s_session->Start(true)) {
            s_error = s_session->Error();
        }
    }
    static void TearDownTestSuite() {
        delete s_session;
        s_session = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(s_error.empty()) << s_error; }

    static fs::path Artifacts(const std::string& language, int scale) {
        return fs::path(std::getenv("SUITE_BIN_DIR")).parent_path() / "artifacts" /
               "quillon-layout" / (language + "-" + std::to_string(scale) + "x");
    }

    ProbeResult Probe(const std::string& language, int scale) {
        support::TempDir runtime("quillon-layout");
        std::vector<std::string> env;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string line = *entry;
            if (line.rfind("QT_", 0) != 0 && line.rfind("KTR_RUNTIME_DIR=", 0) != 0 &&
                line.rfind("DISPLAY=", 0) != 0 && line.rfind("DBUS_SESSION_BUS_ADDRESS=", 0) != 0) {
                env.push_back(line);
            }
        }
        env.push_back("DISPLAY=" + s_session->DisplayName());
        env.push_back("QT_QPA_PLATFORM=xcb");
        env.push_back("QT_SCALE_FACTOR=" + std::to_string(scale));
        env.push_back("KTR_RUNTIME_DIR=" + runtime.String());
        const fs::path folder = Artifacts(language, scale);
        fs::remove_all(folder);
        QuillonRun run(fs::path(std::getenv("SUITE_BIN_DIR")) / "quillon_layout_probe",
                       {language, folder.string()}, env);
        ProbeResult result;
        result.status = run.Wait(60);
        result.output = run.Output();
        std::istringstream lines(result.output);
        const std::regex shot(R"(shot (\S+) (\d+)x(\d+))");
        for (std::string line; std::getline(lines, line);) {
            std::smatch match;
            if (line.rfind("cut ", 0) == 0) {
                result.cuts.push_back(line);
            } else if (std::regex_match(line, match, shot)) {
                result.shots[match[1]] = {std::stoi(match[2]), std::stoi(match[3])};
            } else if (line.rfind("text ", 0) == 0) {
                result.texts.push_back(line.substr(5));
            }
        }
        return result;
    }

    static XSession* s_session;
    static std::string s_error;
};

XSession* Layout::s_session = nullptr;
std::string Layout::s_error;

bool Has(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

TEST_F(Layout, NothingIsCutInEitherLanguageAtEitherScale) {
    struct Case {
        const char* language;
        std::vector<std::string> texts;  // shown as Quillon and Qt give them
    };
    const Case cases[] = {
        {"en",
         {"tray_menu: Exit", "tray_menu: Config", "code_page_dialog label: CodePage",
          "code_page_dialog button: OK", "code_page_dialog button: Cancel",
          "insert_prompt button: OK", "insert_prompt button: Cancel"}},
        {"cn",
         {"tray_menu: 退出", "tray_menu: 设置", "code_page_dialog label: 代码页",
          "code_page_dialog button: 确定", "code_page_dialog button: 取消",
          "insert_prompt button: 确定", "insert_prompt button: 取消"}},
    };
    const char* shots[] = {"main_window", "tray_menu", "code_page_dialog", "code_page_dialog_list",
                           "insert_prompt"};
    for (const Case& c : cases) {
        std::map<std::string, std::pair<int, int>> atScale1;
        for (int scale : {1, 2}) {
            const ProbeResult result = Probe(c.language, scale);
            const std::string where = std::string(c.language) + " at " + std::to_string(scale);
            EXPECT_EQ(result.status, 0) << where << "\n" << result.output;
            EXPECT_TRUE(result.cuts.empty()) << where << "\n" << result.output;
            for (const std::string& text : c.texts) {
                EXPECT_TRUE(Has(result.texts, text)) << where << ": " << text << "\n"
                                                     << result.output;
            }
            for (const char* name : shots) {
                ASSERT_EQ(result.shots.count(name), 1u) << where << ": " << name;
                const fs::path file = Artifacts(c.language, scale) / (std::string(name) + ".png");
                EXPECT_GT(fs::file_size(file), 0u) << file;
                const auto [width, height] = result.shots.at(name);
                if (scale == 1) {
                    atScale1[name] = {width, height};
                } else if (std::string(name) != "insert_prompt") {
                    // Drawn at twice the pixels, not merely the same window
                    // (the prompt wraps its text anew at each scale).
                    EXPECT_GE(width, atScale1[name].first * 17 / 10) << where << ": " << name;
                    EXPECT_GE(height, atScale1[name].second * 17 / 10) << where << ": " << name;
                }
            }
        }
    }
}

}  // namespace
