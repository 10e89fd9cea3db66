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
        } else if (line.rfind("CLIENT ", 0) == 0) {
            current.client = rest(7);
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

bool MakeTestCertificates(const std::string& d) {
    std::ofstream(d + "/san.ext") << "subjectAltName=DNS:other.example\n";
    std::ofstream(d + "/ip.ext") << "subjectAltName=IP:127.0.0.1\n";
    const std::string script =
        "cd '" + d +
        "' && for ca in trusted unknown; do "
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
        "-keyout $ca-ca.key -out $ca-ca.crt -days 2 -subj \"/CN=$ca test authority\" && "
        "openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
        "-keyout $ca-server.key -out $ca-server.csr -subj /CN=other.example && "
        "openssl x509 -req -in $ca-server.csr -CA $ca-ca.crt -CAkey $ca-ca.key "
        "-CAcreateserial -days 2 -extfile san.ext -out $ca-server.crt || exit 1; "
        "done >openssl.log 2>&1 && "
        // A certificate that names the address the tests reach.
        "openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
        "-keyout named-server.key -out named-server.csr -subj /CN=127.0.0.1 >>openssl.log 2>&1 "
        "&& "
        "openssl x509 -req -in named-server.csr -CA trusted-ca.crt -CAkey trusted-ca.key "
        "-CAcreateserial -days 2 -extfile ip.ext -out named-server.crt >>openssl.log 2>&1 && "
        // The public key pins of the server keys.
        "for name in trusted unknown named; do "
        "openssl pkey -in $name-server.key -pubout -outform der | "
        "openssl dgst -sha256 -binary | openssl enc -base64 >$name.pin || exit 1; "
        "done";
    return std::system(script.c_str()) == 0;
}

std::string KeyPin(const std::string& dir, const std::string& name) {
    std::ifstream in(dir + "/" + name + ".pin");
    std::string base64;
    std::getline(in, base64);
    return "sha256//" + base64;
}

}  // namespace delivery_test
