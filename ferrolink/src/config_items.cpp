// Reply items of the group queries and the entries gathered from them.
#include "config_items.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "split_text.h"

namespace ferrolink_config {

std::string_view Middle(std::string_view text, size_t from, size_t dropTail) {
    if (text.size() < from + dropTail)
        return {};
    return text.substr(from, text.size() - from - dropTail);
}

std::vector<std::string> ReplyPieces(std::string_view reply) {
    std::vector<std::string> pieces = SplitText(std::string(reply), ";");
    if (pieces.size() <= 1)
        return {};
    pieces.pop_back();
    return pieces;
}

std::vector<std::string> PieceItems(std::string_view piece) {
    if (piece.empty())
        return {};
    std::vector<std::string> items = SplitText(std::string(piece), ",");
    const std::string group = items.empty() ? std::string() : items[0].substr(0, 3);
    for (size_t i = 1; i < items.size(); ++i)
        items[i] = group + items[i];
    return items;
}

std::vector<std::string> ReplyItems(std::string_view reply) {
    std::vector<std::string> items;
    for (const std::string& piece : ReplyPieces(reply)) {
        for (std::string& item : PieceItems(piece))
            items.push_back(std::move(item));
    }
    return items;
}

void RangeBounds(std::string_view range, int* low, int* high) {
    bool any = false;
    long lo = 0, hi = 0;
    for (size_t i = 0; i < range.size();) {
        if (range[i] < '0' || range[i] > '9') {
            ++i;
            continue;
        }
        long number = 0;
        for (; i < range.size() && range[i] >= '0' && range[i] <= '9'; ++i) {
            number = std::min<long>(number * 10 + (range[i] - '0'), INT_MAX);
        }
        lo = any ? std::min(lo, number) : number;
        hi = any ? std::max(hi, number) : number;
        any = true;
    }
    *low = static_cast<int>(lo);
    *high = static_cast<int>(hi);
}

}  // namespace ferrolink_config

namespace {

using ferrolink_config::CopyField;

// A piece whose first part holds "FACDEF" stands for one entry: the 6
// characters before the first part's last character (its status byte).
bool FactoryPieceName(std::string_view piece, std::string_view* name) {
    const std::string_view first = piece.substr(0, piece.find(','));
    if (first.find("FACDEF") == first.npos)
        return false;
    *name = first.size() >= 7 ? first.substr(first.size() - 7, 6) : std::string_view{};
    return true;
}

// Every (name, item without status byte) pair of a reply, with the FACDEF rule.
template <typename Visit>
void VisitNamedItems(const char* szReply, Visit&& visit) {
    for (const std::string& piece : ferrolink_config::ReplyPieces(szReply ? szReply : "")) {
        std::string_view factory;
        if (FactoryPieceName(piece, &factory)) {
            visit(factory, factory);
            continue;
        }
        for (const std::string& item : ferrolink_config::PieceItems(piece)) {
            const std::string_view view(item);
            visit(view.substr(0, 6), ferrolink_config::Middle(view, 0, 1));
        }
    }
}

}  // namespace

void ReadDefaultsReply(const char* szReply, std::vector<OfficeEntry>& entries) {
    VisitNamedItems(szReply, [&](std::string_view name, std::string_view item) {
        OfficeEntry entry{};
        CopyField(entry.szName, name);
        CopyField(entry.szDefault, item);
        entries.push_back(entry);
    });
}

void ReadRangesReply(const char* szReply, std::vector<OfficeEntry>& entries) {
    VisitNamedItems(szReply, [&](std::string_view name, std::string_view item) {
        for (OfficeEntry& entry : entries) {
            if (name == entry.szName)
                CopyField(entry.szRange, item);
        }
    });
}
