#include "delivery/outbox.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace quillon {
namespace {

constexpr char kDigits[] = "0123456789abcdef";

std::string ToLine(std::string_view scan) {
    std::string line;
    line.reserve(scan.size() * 2 + 1);
    for (char c : scan) {
        const auto byte = static_cast<unsigned char>(c);
        line.push_back(kDigits[byte >> 4]);
        line.push_back(kDigits[byte & 0xF]);
    }
    line.push_back('\n');
    return line;
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// False for a line that is not an even run of hexadecimal digits.
bool FromLine(std::string_view line, std::string& scan) {
    if (line.size() % 2 != 0) {
        return false;
    }
    scan.clear();
    for (size_t i = 0; i < line.size(); i += 2) {
        const int high = DigitValue(line[i]);
        const int low = DigitValue(line[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        scan.push_back(static_cast<char>(high << 4 | low));
    }
    return true;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

// Writes `bytes` at the end (or over the whole file) and syncs.
bool WriteSynced(const std::filesystem::path& file, std::string_view bytes, int flags) {
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, 0600);
    if (fd < 0) {
        return false;
    }
    bool ok = WriteAll(fd, bytes) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    return ok;
}

// The directory entry of a renamed file lasts only once its directory is
// synced.
void SyncDirectory(const std::filesystem::path& directory) {
    const int fd =
        open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

}  // namespace

Outbox::Outbox(std::filesystem::path file) : m_file(std::move(file)) {
    std::ifstream in(m_file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t start = 0;
    for (size_t end = text.find('\n'); end != std::string::npos;
         start = end + 1, end = text.find('\n', start)) {
        std::string scan;
        if (FromLine(std::string_view(text).substr(start, end - start), scan)) {
            m_scans.push_back(std::move(scan));
        }
    }
    // A torn last line would glue itself to the next append: the file is
    // written again without it.
    if (start < text.size()) {
        std::string clean;
        for (const std::string& scan : m_scans) {
            clean += ToLine(scan);
        }
        const std::filesystem::path temporary = m_file.string() + ".new";
        if (WriteSynced(temporary, clean, O_TRUNC) &&
            std::rename(temporary.c_str(), m_file.c_str()) == 0) {
            SyncDirectory(m_file.parent_path());
        }
    }
}

bool Outbox::Append(std::string_view scan) {
    if (!WriteSynced(m_file, ToLine(scan), O_APPEND)) {
        return false;
    }
    m_scans.emplace_back(scan);
    return true;
}

bool Outbox::RemoveOldest() {
    if (m_scans.empty()) {
        return true;
    }
    std::string rest;
    for (size_t i = 1; i < m_scans.size(); ++i) {
        rest += ToLine(m_scans[i]);
    }
    const std::filesystem::path temporary = m_file.string() + ".new";
    if (!WriteSynced(temporary, rest, O_TRUNC) ||
        std::rename(temporary.c_str(), m_file.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    SyncDirectory(m_file.parent_path());
    m_scans.pop_front();
    return true;
}

}  // namespace quillon
