#include "recording_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace delivery_test {
namespace {

std::string ScriptPath() {
    const char* source = std::getenv("SUITE_SOURCE_DIR");
    std::string root = source != nullptr ? source : ".";
    return root + "/tests/quillon_delivery/recording_server.py";
}

// Reads the first line the child prints, waiting generously for a loaded
// machine.
std::string ReadFirstLine(int fd) {
    std::string line;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 20000) <= 0) {
            return {};
        }
        char c = 0;
        if (read(fd, &c, 1) != 1 || c == '\n') {
            return line;
        }
        line.push_back(c);
    }
}

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

}  // namespace

RecordingServer::RecordingServer(const std::string& dir, const std::string& cert,
                                 const std::string& key, int port)
    : log_(dir + "/requests.log"), https_(!cert.empty()) {
    std::ofstream(log_, std::ios::app).flush();
    const std::string portText = std::to_string(port);
    int out[2];
    if (pipe(out) != 0) {
        return;
    }
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        std::string script = ScriptPath();
        if (cert.empty()) {
            execlp("python3", "python3", script.c_str(), log_.c_str(), "--port", portText.c_str(),
                   nullptr);
        } else {
            execlp("python3", "python3", script.c_str(), log_.c_str(), "--port", portText.c_str(),
                   "--cert", cert.c_str(), "--key", key.c_str(), nullptr);
        }
        _exit(127);
    }
    close(out[1]);
    std::string line = ReadFirstLine(out[0]);
    close(out[0]);
    port_ = line.empty() ? 0 : std::atoi(line.c_str());
}

RecordingServer::~RecordingServer() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

std::string RecordingServer::Url(const std::string& path) const {
    return std::string(https_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<RecordedRequest> RecordingServer::Requests() const {
    std::vector<RecordedRequest> requests;
    std::ifstream in(log_);
    std::string line;
    RecordedRequest current;
    while (std::getline(in, line)) {
        auto rest = [&](size_t prefix) { return line.substr(prefix); };
        if (line.rfind("METHOD ", 0) == 0) {
            current = {};
            current.method = rest(7);
        } else if (line.rfind("PATH ", 0) == 0) {
            current.path = rest(5);
        } else if (line.rfind("HEADER ", 0) == 0) {
            std::string header = rest(7);
            size_t colon = header.find(": ");
            current.headers[header.substr(0, colon)] = header.substr(colon + 2);
        } else if (line.rfind("BODY ", 0) == 0) {
            current.body = FromHex(rest(5));
        } else if (line == "END") {
            requests.push_back(current);
        }
    }
    return requests;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "delivery-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
        path_ = pattern;
    }
}

TempDir::~TempDir() {
    if (!path_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
}

std::string PercentEncode(const std::string& bytes) {
    std::string out;
    char buffer[4];
    for (unsigned char c : bytes) {
        std::snprintf(buffer, sizeof buffer, "%%%02X", c);
        out += buffer;
    }
    return out;
}

int UnusedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

}  // namespace delivery_test
