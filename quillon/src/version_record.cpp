#include "version_record.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace quillon {
namespace {

template <typename T>
bool ReadAt(std::ifstream& in, uint64_t offset, T* out, size_t count = 1) {
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(sizeof(T) * count));
    return static_cast<bool>(in);
}

bool IsElf64LittleEndian(const Elf64_Ehdr& header) {
    return std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
           header.e_ident[EI_CLASS] == ELFCLASS64 && header.e_ident[EI_DATA] == ELFDATA2LSB &&
           header.e_shentsize == sizeof(Elf64_Shdr) && header.e_shnum > 0 &&
           header.e_shstrndx < header.e_shnum;
}

std::string SectionName(const std::vector<char>& names, uint32_t offset) {
    if (offset >= names.size()) {
        return {};
    }
    return std::string(names.data() + offset,
                       strnlen(names.data() + offset, names.size() - offset));
}

}  // namespace

std::optional<VersionRecord> ReadVersionRecord(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    Elf64_Ehdr header{};
    if (!in || !ReadAt(in, 0, &header) || !IsElf64LittleEndian(header)) {
        return std::nullopt;
    }
    std::vector<Elf64_Shdr> sections(header.e_shnum);
    if (!ReadAt(in, header.e_shoff, sections.data(), sections.size())) {
        return std::nullopt;
    }
    const Elf64_Shdr& nameTable = sections[header.e_shstrndx];
    constexpr uint64_t kMaxNameTable = 1 << 20;
    if (nameTable.sh_size == 0 || nameTable.sh_size > kMaxNameTable) {
        return std::nullopt;
    }
    std::vector<char> names(nameTable.sh_size);
    if (!ReadAt(in, nameTable.sh_offset, names.data(), names.size())) {
        return std::nullopt;
    }
    for (const Elf64_Shdr& section : sections) {
        if (section.sh_type != SHT_PROGBITS || section.sh_size < sizeof(VersionRecord) ||
            SectionName(names, section.sh_name) != kVersionSectionName) {
            continue;
        }
        VersionRecord record{};
        if (ReadAt(in, section.sh_offset, &record) &&
            std::memcmp(record.marker, kVersionMarker, sizeof kVersionMarker) == 0) {
            return record;
        }
    }
    return std::nullopt;
}

}  // namespace quillon
