#include "code_pages.h"

namespace quillon {

CodePageMap MakeCodePageMap() {
    CodePageMap map;
    for (const CodePageRow& row : kCodePageList) {
        map.emplace(QString::fromUtf8(row.name), row.codePage);
    }
    return map;
}

QString FindCodePageName(const CodePageMap& map, int codePage) {
    for (const auto& [name, number] : map) {
        if (number == codePage) {
            return name;
        }
    }
    return {};
}

int CodePageFromText(CodePageMap& map, const QString& text) {
    return map.try_emplace(text, 0).first->second;
}

}  // namespace quillon
