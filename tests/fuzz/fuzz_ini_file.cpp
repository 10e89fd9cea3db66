// An ini file of arbitrary content: every section and key read, then one key
// written, read back and removed again, while every other key keeps its value.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "platform/ini_file.h"
#include "support/temp_folder.h"

namespace {

// In memory where there is such a folder: every write syncs the file, which
// on disk held the target to a few dozen runs a second.
std::filesystem::path g_folder;

void RemoveFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(g_folder, ignored);
}

const std::filesystem::path& IniFile() {
    static const std::filesystem::path file = [] {
        g_folder = support::MakePrivateFolder("fuzz_ini", "/dev/shm");
        if (g_folder.empty())
            g_folder = support::MakePrivateFolder("fuzz_ini");
        if (g_folder.empty())
            std::abort();
        std::atexit(RemoveFolder);
        return g_folder / "fuzz.ini";
    }();
    return file;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Names and values made of letters, digits and '_': nothing the file format
// treats specially, so they read back as written.
std::string PlainText(FuzzedDataProvider& input, size_t maxLength) {
    static const char kLetters[] = "abcXYZ019_";
    std::string text;
    const size_t length = input.ConsumeIntegralInRange<size_t>(1, maxLength);
    for (size_t i = 0; i < length; ++i)
        text += kLetters[input.ConsumeIntegralInRange<size_t>(0, sizeof kLetters - 2)];
    return text;
}

using KeyValues = std::map<std::pair<std::string, std::string>, std::string>;

// The sections that occur once (ignoring case); a name given twice is read
// from its first occurrence only, so only single ones are compared.
std::vector<std::string> SingleSections() {
    std::map<std::string, int> seen;
    const std::vector<std::string> names = platform::IniSectionNames(IniFile());
    for (const std::string& name : names)
        ++seen[Lower(name)];
    std::vector<std::string> single;
    for (const std::string& name : names)
        if (seen[Lower(name)] == 1)
            single.push_back(name);
    return single;
}

KeyValues ReadAll(const std::vector<std::string>& sections) {
    KeyValues values;
    for (const std::string& section : sections) {
        for (const std::string& key : platform::IniKeyNames(IniFile(), section)) {
            values[{Lower(section), Lower(key)}] =
                platform::IniReadString(IniFile(), section, key, "\x01missing");
            (void)platform::IniReadInt(IniFile(), section, key, -7);
        }
    }
    return values;
}

size_t CountKey(const std::string& section, const std::string& key) {
    const std::vector<std::string> keys = platform::IniKeyNames(IniFile(), section);
    return static_cast<size_t>(std::count_if(
        keys.begin(), keys.end(), [&](const std::string& k) { return Lower(k) == Lower(key); }));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const bool existingSection = input.ConsumeBool();
    const bool existingKey = input.ConsumeBool();
    const size_t pick = input.ConsumeIntegral<uint16_t>();
    std::string newSection = PlainText(input, 12);
    std::string newKey = PlainText(input, 12);
    const std::string value = PlainText(input, 40);
    {
        std::ofstream out(IniFile(), std::ios::binary | std::ios::trunc);
        const std::string content = input.ConsumeRemainingBytesAsString();
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
    }

    const std::vector<std::string> sections = SingleSections();
    const KeyValues before = ReadAll(sections);
    std::string section = newSection;
    const std::vector<std::string> allSections = platform::IniSectionNames(IniFile());
    if (existingSection && !sections.empty())
        section = sections[pick % sections.size()];
    else if (std::any_of(allSections.begin(), allSections.end(),
                         [&](const std::string& s) { return Lower(s) == Lower(section); }))
        return 0;  // a fresh name that is already there (perhaps twice) is not compared
    std::string key = newKey;
    const std::vector<std::string> keys = platform::IniKeyNames(IniFile(), section);
    if (existingKey && !keys.empty() && !keys[pick % keys.size()].empty())
        key = keys[pick % keys.size()];
    const size_t occurrences = CountKey(section, key);

    // A name read from the file may hold a lone CR; writing it would break
    // the line apart, so the write is refused and the file stays as it was.
    if (section.find_first_of("\r\n") != std::string::npos ||
        key.find_first_of("\r\n") != std::string::npos) {
        FUZZ_CHECK(!platform::IniWriteString(IniFile(), section, key, value));
        const KeyValues unchanged = ReadAll(sections);
        FUZZ_CHECK(unchanged == before);
        return 0;
    }

    FUZZ_CHECK(platform::IniWriteString(IniFile(), section, key, value));
    FUZZ_CHECK(platform::IniReadString(IniFile(), section, key, "\x01missing") == value);
    KeyValues after = ReadAll(SingleSections());
    for (const auto& [name, old] : before) {
        if (name == std::make_pair(Lower(section), Lower(key)))
            continue;
        const auto now = after.find(name);
        FUZZ_CHECK(now != after.end() && now->second == old);
    }

    FUZZ_CHECK(platform::IniDeleteKey(IniFile(), section, key));
    if (occurrences <= 1)
        FUZZ_CHECK(platform::IniReadString(IniFile(), section, key, "\x01missing") ==
                   "\x01missing");
    return 0;
}
