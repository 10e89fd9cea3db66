// Runs recording_server.py as a child process on a free port and reads back
// what it received.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace delivery_test {

struct RecordedRequest {
    std::string method;
    std::string path;
    std::string client;                          // address:port of its connection
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

// A fresh private temporary directory, removed with its files by the
// destructor; these tests name files in it as text.
class TempDir {
  public:
    TempDir() : dir_("delivery"), path_(dir_.String()) {}
    const std::string& Path() const { return path_; }

  private:
    support::TempDir dir_;
    std::string path_;
};

// Percent-encodes every byte, for the text= query of the server.
std::string PercentEncode(const std::string& bytes);

// A TCP port on 127.0.0.1 with nothing listening.
int UnusedPort();

// Test certificates made with openssl in `dir`: authorities "trusted" and
// "unknown" (<ca>-ca.crt), each issuing <ca>-server.crt/.key for the host
// name other.example; "named-server" from the trusted authority for
// 127.0.0.1; and <name>.pin, the public key hash of each server key. False
// when openssl failed.
bool MakeTestCertificates(const std::string& dir);

// "sha256//<base64>" of the server key <name> made above.
std::string KeyPin(const std::string& dir, const std::string& name);

}  // namespace delivery_test
