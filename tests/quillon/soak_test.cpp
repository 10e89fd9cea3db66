// The program under load and over time: many scans at the scanner's full
// rate, a web server that is down for a while, and the scanner unplugged and
// plugged in again many times.
#include <dirent.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "../quillon_delivery/recording_server.h"
#include "../soak_scale.h"
#include "support/quillon_process.h"

namespace fs = std::filesystem;
using delivery_test::RecordingServer;
using delivery_test::TempDir;

namespace {

std::string Scan(int number) {
    return "SCAN-" + std::to_string(100000 + number);
}

// Everything the server received, the bodies without their final zero byte
// and joined: bytes that reach the program together go out as one POST.
std::string ReceivedStream(const RecordingServer& server) {
    std::string stream;
    for (const auto& request : server.Requests()) {
        if (!request.body.empty() && request.body.back() == '\0') {
            stream.append(request.body, 0, request.body.size() - 1);
        } else {
            stream += "<body without its zero byte>";
        }
    }
    return stream;
}

size_t CountEntries(const std::string& directory) {
    size_t count = 0;
    if (DIR* dir = opendir(directory.c_str())) {
        while (dirent* entry = readdir(dir)) {
            count += entry->d_name[0] != '.' ? 1 : 0;
        }
        closedir(dir);
    }
    return count;
}

void StartNetworkOutput(const QuillonHome& home, const std::string& url) {
    std::ofstream(home.IniFile()) << "[init]\nlang=en\nWorkMode=1\nurl=" << url << "\n";
}

TEST(Soak, TenThousandScansAtFullRateArriveInOrder) {
    TempDir dir;
    RecordingServer server(dir.Path());
    ASSERT_TRUE(server.Started());
    QuillonHome home;
    StartNetworkOutput(home, server.Url("/reply?text=succes"));
    ScannerProcess scanner(home, "\\r\\n");
    ASSERT_TRUE(scanner.WaitPresent());
    QuillonRun run(home, {"--headless"});
    ASSERT_TRUE(run.WaitFor("Device is Connected\n")) << run.Output();

    std::string expected;
    const int scans = 10000 * SoakScale();
    for (int i = 0; i < scans; ++i) {
        scanner.Send(Scan(i));
        expected += Scan(i) + "\r\n";
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(240 * SoakScale());
    std::string received;
    while ((received = ReceivedStream(server)).size() < expected.size() &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    ASSERT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received == expected) << "scans lost, changed or out of order";
    EXPECT_EQ(run.Stop(), 0);
    EXPECT_EQ(run.Output().find("[balloon]"), std::string::npos);
}

TEST(Soak, ServerDownGivesTheBalloonAndScansAfterItsReturnArrive) {
    const int port = delivery_test::UnusedPort();
    QuillonHome home;
    StartNetworkOutput(home, "http://127.0.0.1:" + std::to_string(port) + "/scan");
    ScannerProcess scanner(home);
    ASSERT_TRUE(scanner.WaitPresent());
    QuillonRun run(home, {"--headless"});
    ASSERT_TRUE(run.WaitFor("Device is Connected\n")) << run.Output();
    scanner.Send("WHILE-DOWN");
    ASSERT_TRUE(run.WaitFor("[balloon] Interface communication error!")) << run.Output();

    const fs::path receiverScript =
        fs::path(std::getenv("SUITE_SOURCE_DIR")) / "scripts" / "scan-receiver.py";
    QuillonRun receiver("/usr/bin/python3",
                        {receiverScript.string(), "--port", std::to_string(port)},
                        home.Environment(""));
    ASSERT_TRUE(receiver.WaitFor("listening on " + std::to_string(port))) << receiver.Output();
    scanner.Send("AFTER-RECOVERY");
    EXPECT_TRUE(receiver.WaitFor("POST #1 /scan: 'AFTER-RECOVERY'")) << receiver.Output();
    EXPECT_EQ(run.Stop(), 0);
    EXPECT_FALSE(run.WaitFor("[balloon]", 0)) << "a balloon after the server came back";
}

TEST(Soak, FiftyUnplugsLeaveOneWorkingConnectionAndNoLeakedThreadsOrDescriptors) {
    TempDir dir;
    RecordingServer server(dir.Path());
    ASSERT_TRUE(server.Started());
    QuillonHome home;
    StartNetworkOutput(home, server.Url("/reply?text=succes"));
    ScannerProcess scanner(home);
    ASSERT_TRUE(scanner.WaitPresent());
    QuillonRun run(home, {"--headless"});
    ASSERT_TRUE(run.WaitFor("Device is Connected\n")) << run.Output();

    const std::string proc = "/proc/" + std::to_string(run.Pid());
    size_t threads = 0;
    size_t descriptors = 0;
    const int cycles = 50 * SoakScale();
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        scanner.Send(":unplug");
        ASSERT_TRUE(run.WaitFor("Device not connected\n")) << "cycle " << cycle;
        scanner.Send(":plug");
        ASSERT_TRUE(run.WaitFor("Device is Connected\n")) << "cycle " << cycle;
        const std::string scan = "CYCLE-" + std::to_string(cycle);
        scanner.Send(scan);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (ReceivedStream(server).find(scan + "\r") == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_NE(ReceivedStream(server).find(scan + "\r"), std::string::npos) << "cycle " << cycle;
        if (cycle == 1) {
            threads = CountEntries(proc + "/task");
            descriptors = CountEntries(proc + "/fd");
        }
    }
    EXPECT_EQ(CountEntries(proc + "/task"), threads);
    EXPECT_EQ(CountEntries(proc + "/fd"), descriptors);
    // One connection: every scan went out once.
    EXPECT_EQ(server.Requests().size(), static_cast<size_t>(cycles));
    EXPECT_EQ(run.Stop(), 0);
}

}  // namespace
