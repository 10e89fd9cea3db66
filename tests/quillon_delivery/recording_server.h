// Runs recording_server.py as a child process on a free port and reads back
// what it received.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace delivery_test {

struct RecordedRequest {
    std::string method;
    std::string path;
    std::map<std::string, std::string> headers;  // names lower-cased
    std::string body;
};

class RecordingServer {
  public:
    // Plain HTTP when cert is empty, HTTPS with the given certificate else;
    // on `port` when given, else on a free one.
    RecordingServer(const std::string& dir, const std::string& cert = {},
                    const std::string& key = {}, int port = 0);
    ~RecordingServer();
    RecordingServer(const RecordingServer&) = delete;
    RecordingServer& operator=(const RecordingServer&) = delete;

    bool Started() const { return port_ > 0; }
    int Port() const { return port_; }
    std::string Url(const std::string& path) const;
    std::vector<RecordedRequest> Requests() const;

  private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string log_;
    bool https_ = false;
};

// A fresh temporary directory, removed with its files by the destructor.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

// Percent-encodes every byte, for the text= query of the server.
std::string PercentEncode(const std::string& bytes);

// A TCP port on 127.0.0.1 with nothing listening.
int UnusedPort();

}  // namespace delivery_test
