// The scanner's settings table: every setting has a 6-character name, a
// current value, a factory default and the range of values it accepts.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scansim {

// A range is '|'-separated alternatives: a number "7", a span "0-9", the text
// "*" (any value, also empty) or a literal text.
bool ValueInRange(std::string_view value, std::string_view range);

struct Setting {
    std::string name;
    std::string value;
    std::string defaultValue;
    std::string range;
};

class SettingsTable {
  public:
    // The table the simulator uses when no profile gives one.
    static SettingsTable Builtin();

    // Adds or replaces a setting (its value becomes the default).
    void Define(std::string name, std::string defaultValue, std::string range);
    const Setting* Find(std::string_view name) const;
    // false when the name is unknown or the value outside the range.
    bool Set(std::string_view name, std::string_view value);
    void ResetToDefaults();
    const std::vector<Setting>& Entries() const { return entries_; }

  private:
    std::vector<Setting> entries_;
};

}  // namespace scansim
