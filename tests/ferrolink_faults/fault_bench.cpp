#include "fault_bench.h"

#include <fcntl.h>
#include <poll.h>
#include <tinyxml.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "ferrolink/commands.h"

namespace faults_test {

WorkingDir::WorkingDir() : previous_(fs::current_path()) {
    fs::current_path(dir_.Path());
}

WorkingDir::~WorkingDir() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
}

std::unique_ptr<scansim::Scanner> StartScanner(scansim::Attachment attachment) {
    return attachment == scansim::Attachment::kUsb ? ops_test::StartUsbScanner(kUsbSerial)
                                                   : ops_test::StartComScanner(kComPort);
}

_QVDeviceInfo RecordFor(scansim::Attachment attachment) {
    return attachment == scansim::Attachment::kUsb ? ops_test::UsbRecord(kUsbSerial)
                                                   : ops_test::ComRecord(kComPort);
}

void WriteDownloadSet(const fs::path& file, int count) {
    // Settings that take any of their plain values; repeated names are fine.
    static const char* const kSettings[][2] = {
        {"ALLENA", "1"}, {"ALL1DC", "0"}, {"APSENA", "1"}, {"232BAD", "6"}, {"232PAR", "0"},
    };
    std::ofstream out(file);
    out << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Tarnwell DeviceType=\"X\">\n";
    for (int i = 0; i < count; ++i) {
        const auto& setting = kSettings[i % std::size(kSettings)];
        out << "<Command CommandName=\"" << setting[0] << "\" Value=\"" << setting[1] << "\"/>\n";
    }
    out << "</Tarnwell>\n";
}

void WritePreviousDocument(const fs::path& file) {
    std::ofstream(file) << "<?xml version=\"1.0\" ?>\n<Previous whole=\"yes\" />\n";
}

namespace {

bool IsWholeXml(const fs::path& file) {
    TiXmlDocument document;
    return document.LoadFile(file.c_str()) && document.RootElement() != nullptr;
}

}  // namespace

std::vector<std::string> FileProblems(const fs::path& dir,
                                      const std::vector<std::string>& allowed) {
    std::vector<std::string> problems;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (std::find(allowed.begin(), allowed.end(), name) == allowed.end())
            problems.push_back("unexpected file " + name);
        else if (entry.path().extension() == ".xml" && !IsWholeXml(entry.path()))
            problems.push_back("not a whole document: " + name);
    }
    return problems;
}

bool DrainUntilQuiet(const fs::path& link) {
    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    bool quiet = false;
    while (!quiet && std::chrono::steady_clock::now() < limit) {
        pollfd wait{fd, POLLIN, 0};
        if (::poll(&wait, 1, 300) <= 0 || (wait.revents & POLLIN) == 0) {
            quiet = true;
            break;
        }
        char chunk[65536];
        if (::read(fd, chunk, sizeof chunk) <= 0)
            quiet = true;
    }
    ::close(fd);
    return quiet;
}

bool AnswersAgain(scansim::Attachment attachment) {
    // The output must hold whatever reply comes, and the tail of a long reply
    // the export stopped reading may still arrive in the first attempts.
    std::vector<char> output(size_t{4} << 20, '\0');
    const _QVDeviceInfo record = RecordFor(attachment);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int result = attachment == scansim::Attachment::kCom
                               ? SendCommandCom(kComPort, "QRYESN", output.data())
                               : SendCommand(&record, "QRYESN", output.data());
        if (result == 1)
            return true;
    }
    return false;
}

}  // namespace faults_test
