#include "scansim/settings.h"

#include <algorithm>
#include <charconv>

namespace scansim {
namespace {

std::optional<long> ParseNumber(std::string_view text) {
    long number = 0;
    if (text.empty()) {
        return std::nullopt;
    }
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (ec != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return number;
}

bool ValueMatchesAlternative(std::string_view value, std::string_view alternative) {
    if (alternative == "*") {
        return true;
    }
    const auto dash = alternative.find('-', 1);
    if (dash != std::string_view::npos) {
        auto low = ParseNumber(alternative.substr(0, dash));
        auto high = ParseNumber(alternative.substr(dash + 1));
        auto number = ParseNumber(value);
        if (low && high) {
            return number && *number >= *low && *number <= *high;
        }
    }
    return value == alternative;
}

}  // namespace

bool ValueInRange(std::string_view value, std::string_view range) {
    size_t start = 0;
    while (start <= range.size()) {
        size_t bar = range.find('|', start);
        if (bar == std::string_view::npos) {
            bar = range.size();
        }
        if (ValueMatchesAlternative(value, range.substr(start, bar - start))) {
            return true;
        }
        start = bar + 1;
    }
    return false;
}

SettingsTable SettingsTable::Builtin() {
    SettingsTable table;
    table.Define("INTERF", "0", "0-4");
    table.Define("AUTOUR", "0", "0|1");
    table.Define("232BAD", "6", "0-9");
    table.Define("232PAR", "0", "0-2");
    table.Define("232STP", "0", "0|1");
    table.Define("232DAT", "1", "0|1");
    table.Define("232AFL", "0", "0|1");
    table.Define("KBWPOR", "0", "0-3");
    table.Define("ALLENA", "1", "0|1");
    table.Define("ALL1DC", "1", "0|1");
    table.Define("ALL2DC", "1", "0|1");
    table.Define("ALLPST", "0", "0|1");
    table.Define("APSENA", "0", "0|1");
    table.Define("CSUSET", "", "*");
    table.Define("CPRSET", "", "*");
    table.Define("DFMADD", "", "*");
    table.Define("DFMSET", "0", "0|1");
    table.Define("IMGROI", "0", "*");
    return table;
}

void SettingsTable::Define(std::string name, std::string defaultValue, std::string range) {
    Setting setting{name, defaultValue, defaultValue, std::move(range)};
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const Setting& s) { return s.name == name; });
    if (it != entries_.end()) {
        *it = std::move(setting);
    } else {
        entries_.push_back(std::move(setting));
    }
}

const Setting* SettingsTable::Find(std::string_view name) const {
    for (const auto& setting : entries_) {
        if (setting.name == name) {
            return &setting;
        }
    }
    return nullptr;
}

bool SettingsTable::Set(std::string_view name, std::string_view value) {
    for (auto& setting : entries_) {
        if (setting.name == name) {
            if (!ValueInRange(value, setting.range)) {
                return false;
            }
            setting.value = std::string(value);
            return true;
        }
    }
    return false;
}

void SettingsTable::ResetToDefaults() {
    for (auto& setting : entries_) {
        setting.value = setting.defaultValue;
    }
}

}  // namespace scansim
