// Taking group-query replies apart and the fixed-size entries gathered from
// them for the settings description (Office.xml) and the configuration set.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// One setting gathered for Office.xml.
struct OfficeEntry {
    char szName[10];
    char szDefault[30];
    char szRange[260];
};

// One setting gathered for the configuration set.
struct ConfigEntry {
    char szName[10];
    char szValue[1024];
};

namespace ferrolink_config {

// Copies `text` into a fixed field, cut to what the field holds, always ended by NUL.
template <size_t N>
void CopyField(char (&field)[N], std::string_view text) {
    const size_t n = text.size() < N - 1 ? text.size() : N - 1;
    text.copy(field, n);
    field[n] = '\0';
}

// The substring from `from` on without the last `dropTail` characters; empty
// when the text is too short for what is cut off.
std::string_view Middle(std::string_view text, size_t from, size_t dropTail);

// The ';'-pieces of a reply that carry items: every piece but the last.
std::vector<std::string> ReplyPieces(std::string_view reply);

// The items of one piece: its ','-parts, each part after the first getting
// the first 3 characters of the first part in front of it.
std::vector<std::string> PieceItems(std::string_view piece);

// Every item of a reply in order (the pieces' items one after the other).
std::vector<std::string> ReplyItems(std::string_view reply);

// The lower and upper bound of a range text such as "0-9|12": the smallest
// and largest decimal number in it; both 0 when it holds none.
void RangeBounds(std::string_view range, int* low, int* high);

}  // namespace ferrolink_config

void ReadDefaultsReply(const char* szReply, std::vector<OfficeEntry>& entries);
void ReadRangesReply(const char* szReply, std::vector<OfficeEntry>& entries);

// The "@*" reply turned into configuration entries; `queryDataFormat` answers
// the value of a DFMADD item (the device's DFMQCU answer).
template <typename QueryDataFormat>
std::vector<ConfigEntry> CollectConfigEntries(std::string_view reply,
                                              QueryDataFormat&& queryDataFormat);

// Writes the documents whole or not at all (temporary file, then rename);
// false when the file could not be written.
bool WriteOfficeXml(const char* szFileName, const std::vector<OfficeEntry>& entries);
bool WriteConfigSetXml(const char* szFileName, const std::vector<ConfigEntry>& entries,
                       const char* szDeviceType);

template <typename QueryDataFormat>
std::vector<ConfigEntry> CollectConfigEntries(std::string_view reply,
                                              QueryDataFormat&& queryDataFormat) {
    std::vector<ConfigEntry> entries;
    for (const std::string& item : ferrolink_config::ReplyItems(reply)) {
        const std::string_view name = std::string_view(item).substr(0, 6);
        std::string value(ferrolink_config::Middle(item, 6, 1));
        if (name == "DFMADD")
            value = queryDataFormat();
        if (value.empty() && name != "CSUSET" && name != "CPRSET")
            continue;
        ConfigEntry entry{};
        ferrolink_config::CopyField(entry.szName, name);
        ferrolink_config::CopyField(entry.szValue, value);
        entries.push_back(entry);
    }
    return entries;
}
