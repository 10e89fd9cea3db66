// A private runtime namespace in a temporary folder and real ptys to link to.
#pragma once

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

class TempRuntimeDir {
  public:
    TempRuntimeDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "ktr-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "mkdtemp failed";
        }
        path_ = pattern;
        ::setenv("KTR_RUNTIME_DIR", path_.c_str(), 1);
    }
    ~TempRuntimeDir() {
        ::unsetenv("KTR_RUNTIME_DIR");
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// A pty pair; the slave's node (/dev/pts/N) exists while the master is open.
class Pty {
  public:
    Pty() {
        char name[128] = {};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
            ADD_FAILURE() << "openpty failed";
        }
        node_ = name;
    }
    ~Pty() { Close(); }
    void Close() {
        if (slave_ >= 0) {
            ::close(slave_);
            slave_ = -1;
        }
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }
    const std::filesystem::path& node() const { return node_; }
    int master() const { return master_; }
    int slave() const { return slave_; }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::filesystem::path node_;
};
