// Office.xml and the configuration set file, written and read with TinyXML.
#include "config_xml.h"

#include <tinyxml.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "config_items.h"
#include "ferrolink/tidestream/tidestream.h"
#include "log_source.h"
#include "xml_depth.h"

namespace {

// Adds <name>text</name>; TinyXML writes an empty element for an empty text.
void AddTextElement(TiXmlElement* parent, const char* name, const std::string& text) {
    auto* element = new TiXmlElement(name);
    element->LinkEndChild(new TiXmlText(text.c_str()));
    parent->LinkEndChild(element);
}

// A reader never sees half a document: save beside the target, then rename over it.
bool SaveWhole(TiXmlDocument& document, const char* szFileName) {
    if (szFileName == nullptr || *szFileName == '\0')
        return false;
    const std::string temporary = std::string(szFileName) + ".part";
    if (!document.SaveFile(temporary.c_str())) {
        std::remove(temporary.c_str());
        return false;
    }
    if (std::rename(temporary.c_str(), szFileName) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

std::string FromSeventh(const char* field) {
    return std::string(ferrolink_config::Middle(field, 6, 0));
}

// Whether the bytes form UTF-8: every lead byte followed by as many
// continuation bytes as it announces.
bool IsUtf8(const std::string& bytes) {
    for (size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const size_t length = lead < 0x80           ? 1
                              : (lead >> 5) == 0x06 ? 2
                              : (lead >> 4) == 0x0E ? 3
                              : (lead >> 3) == 0x1E ? 4
                                                    : 0;
        if (length == 0 || bytes.size() - i < length)
            return false;
        for (size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

// Settings a device reports in a single-byte code page are written as they
// came, so a set file need not be UTF-8. Read as UTF-8, such a byte would be
// taken for the start of a longer character and swallow the quote after it;
// those files are read byte for byte instead.
TiXmlEncoding EncodingOf(const char* szFileName) {
    std::ifstream in(szFileName, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return IsUtf8(bytes) ? TIXML_ENCODING_UNKNOWN : TIXML_ENCODING_LEGACY;
}

}  // namespace

bool WriteOfficeXml(const char* szFileName, const std::vector<OfficeEntry>& entries) {
    TiXmlDocument document;
    document.LinkEndChild(new TiXmlDeclaration("1.0", "UTF-8", ""));
    auto* root = new TiXmlElement("DeviceConfiguration");
    document.LinkEndChild(root);
    // The list's last entry is never written.
    for (size_t i = 0; i + 1 < entries.size(); ++i) {
        const OfficeEntry& entry = entries[i];
        const std::string range = FromSeventh(entry.szRange);
        int low = 0, high = 0;
        ferrolink_config::RangeBounds(range, &low, &high);
        auto* command = new TiXmlElement("Command");
        AddTextElement(command, "CommandName", entry.szName);
        AddTextElement(command, "Minimum", std::to_string(low));
        AddTextElement(command, "Maximum", std::to_string(high));
        AddTextElement(command, "SettingsList", range);
        AddTextElement(command, "Default", FromSeventh(entry.szDefault));
        root->LinkEndChild(command);
    }
    return SaveWhole(document, szFileName);
}

bool WriteConfigSetXml(const char* szFileName, const std::vector<ConfigEntry>& entries,
                       const char* szDeviceType) {
    TiXmlDocument document;
    document.LinkEndChild(new TiXmlDeclaration("1.0", "utf-8", ""));
    auto* root = new TiXmlElement("Tarnwell");
    root->SetAttribute("DeviceType", szDeviceType ? szDeviceType : "");
    document.LinkEndChild(root);
    for (const ConfigEntry& entry : entries) {
        auto* command = new TiXmlElement("Command");
        command->SetAttribute("CommandName", entry.szName);
        command->SetAttribute("Value", entry.szValue);
        root->LinkEndChild(command);
    }
    return SaveWhole(document, szFileName);
}

namespace ferrolink_config {

bool LoadConfigSet(const char* szFileName, ConfigSetElements* elements) {
    if (szFileName == nullptr)
        return false;
    // Refused before TinyXML reads it: its recursion would overflow the stack.
    if (ferrolink_xml::FileNestingWithin(szFileName, ferrolink_xml::kMaxSetFileDepth) ==
        ferrolink_xml::FileNesting::kTooDeep) {
        logout_line(QVDS_LOG_ERROR, kLogSource, __LINE__, "%s %s", szFileName,
                    "nests its elements too deep");
        return false;
    }
    TiXmlDocument document;
    if (!document.LoadFile(szFileName, EncodingOf(szFileName)))
        return false;
    elements->clear();
    const TiXmlElement* root = document.FirstChildElement();
    if (root == nullptr)
        return true;
    for (const TiXmlElement* element = root->FirstChildElement("Command"); element != nullptr;
         element = element->NextSiblingElement()) {
        const char* name = element->Attribute("CommandName");
        const char* value = element->Attribute("Value");
        elements->emplace_back(name ? name : "", value ? value : "");
    }
    return true;
}

}  // namespace ferrolink_config
