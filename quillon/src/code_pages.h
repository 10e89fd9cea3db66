// The code pages the user can choose for scan data that is not UTF-8.
#pragma once

#include <QString>
#include <array>
#include <map>

namespace quillon {

struct CodePageRow {
    const char* name;
    int codePage;
};

// In the order the dialog lists them.
inline constexpr std::array<CodePageRow, 15> kCodePageList{{
    {"ANSI", 0},
    {"Western European (Windows)", 1252},
    {"Cyrillic (Windows)", 1251},
    {"Central European (Windows)", 1250},
    {"Greek (Windows)", 1253},
    {"Turkish (Windows)", 1254},
    {"Hebrew (Windows)", 1255},
    {"Arabic (Windows)", 1256},
    {"Baltic (Windows)", 1257},
    {"Vietnamese (Windows)", 1258},
    {"Chinese Simplified (GB2312)", 936},
    {"Chinese Traditional (Big5)", 950},
    {"Thai (Windows)", 874},
    {"Japanese (Shift-JIS)", 932},
    {"Korean", 949},
}};

using CodePageMap = std::map<QString, int>;

// The name-ordered map of the list.
CodePageMap MakeCodePageMap();

// The first name, in the map's order, whose number is codePage; empty when
// none has it.
QString FindCodePageName(const CodePageMap& map, int codePage);

// The number of a typed name; a name not in the map is entered with 0.
int CodePageFromText(CodePageMap& map, const QString& text);

}  // namespace quillon
