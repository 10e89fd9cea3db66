// The version record read back from program files, and the caption made of it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/temp_dir.h"
#include "version_text.h"

namespace fs = std::filesystem;
using namespace quillon;

namespace {

fs::path BinDir() {
    return fs::path(std::getenv("SUITE_BIN_DIR"));
}

TEST(VersionRecord, IsReadFromTheProgramFiles) {
    EXPECT_EQ(GetFileVersionText(BinDir() / "quillon", false), "1.0.0.2");
    EXPECT_EQ(GetFileVersionText(BinDir() / "quillon", true), "0");
    EXPECT_EQ(GetFileVersionText(BinDir() / "quillon_version_probe", false), "1.0.0.0");
    EXPECT_EQ(GetFileVersionText(BinDir() / "quillon_version_probe_4321", false), "4.3.2.1");
    EXPECT_EQ(GetFileVersionText(BinDir() / "quillon_version_probe_4321", true), "2");
}

TEST(VersionRecord, FilesWithoutARecordGiveTheFallback) {
    const support::TempDir folder("quillon-version");
    const fs::path dir = folder.Path();
    ASSERT_FALSE(dir.empty());
    // An ELF file without the record, a missing file, a text file, a cut ELF header,
    // and a copy of the program cut in the middle (section table gone).
    std::ofstream(dir / "text") << "just text";
    std::ofstream(dir / "short", std::ios::binary) << "\x7f"
                                                      "ELF\x02\x01";
    {
        std::ifstream in(BinDir() / "quillon", std::ios::binary);
        std::string head(4096, '\0');
        in.read(head.data(), static_cast<std::streamsize>(head.size()));
        std::ofstream(dir / "cut", std::ios::binary) << head;
    }
    for (const fs::path& file :
         {fs::path("/proc/self/exe"), dir / "missing", dir / "text", dir / "short", dir / "cut"}) {
        EXPECT_EQ(GetFileVersionText(file, false), "1.0.0.5") << file;
        EXPECT_EQ(GetFileVersionText(file, true), "1.0.0.5") << file;
    }
}

TEST(Caption, IsMadeOfTitleVersionAndHexOut) {
    struct Case {
        const char* title;
        const char* version;
        int hexOut;
        const char* caption;
    };
    const Case cases[] = {
        {"Quillon", "1.0.0.2", 0, "Quillon V1.0.0.B2"},
        {"Quillon", "1.0.0.0", 0, "Quillon V1.0.0"},
        {"Quillon", "1.0.0.5", 0, "Quillon V1.0.0.B5"},
        {"Quillon", "1.0.0.2", 1, "Quillon V1.0.0.B2(Harlowe)"},
        {"Quillon", "1.0.0.0", 7, "Quillon V1.0.0(Harlowe)"},
        {"Quillon", "2.5", 0, "Quillon V2.5.0"},
        {"Quillon", "3.x.1.9.8", 0, "Quillon V3.0.1.B9"},
        {"Scan %1 %2", "1.2.3.4", 0, "Scan %1 %2 V1.2.3.B4"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BuildCaption(c.title, c.version, c.hexOut), c.caption) << c.version;
    }
}

}  // namespace
