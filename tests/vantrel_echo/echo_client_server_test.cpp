// The echo client and server over a null-modem link of two pseudo
// terminals, each end opened through the port layer by its Linux path.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "echo_client.h"
#include "echo_keys.h"
#include "echo_server.h"
#include "echo_test_support.h"
#include "port/win_port_errors.h"
#include "pty_link.h"
#include "raw_echo_peer.h"
#include "support/temp_dir.h"

using namespace vantrel::echo;

namespace {

class EchoOverLink : public ::testing::Test {
  protected:
    void SetUp() override {
        client_ = OpenPortPath(link_.PathA());
        ASSERT_NE(client_, win::INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        if (client_ != win::INVALID_HANDLE_VALUE)
            win::CloseHandle(client_);
    }

    // Runs our server on end B until the client on end A is done, then
    // stops it with key '0'. Answers the client's result.
    bool ClientAgainstServer(const EchoConfig& clientConfig, const EchoConfig& serverConfig,
                             bool mild = false) {
        win::HANDLE server = OpenPortPath(link_.PathB());
        EXPECT_NE(server, win::INVALID_HANDLE_VALUE);
        KeyScript serverKeys;
        std::thread serverThread([&] { RunEchoServer(server, serverConfig, serverKeys.Hooks()); });
        KeyScript clientKeys;
        const bool ok = Do_Echo_cli(client_, clientConfig, mild, clientKeys.Hooks(), nullptr);
        serverKeys.Press('0');
        serverThread.join();
        win::CloseHandle(server);
        return ok;
    }

    PtyLink link_;
    win::HANDLE client_ = win::INVALID_HANDLE_VALUE;
};

uint64_t NumberAfter(const std::string& text, const std::string& label) {
    const size_t at = text.find(label);
    if (at == std::string::npos)
        return 0;
    return std::strtoull(text.c_str() + at + label.size(), nullptr, 10);
}

TEST_F(EchoOverLink, ServerAndClientBothEndWithTheirSuccessLines) {
    for (bool mild : {false, true}) {
        SCOPED_TRACE(mild ? "Mild" : "Urge");
        bool ok = false;
        const std::string out = support::CaptureStdout([&] {
            ok = ClientAgainstServer(ConfigOf(12, 16000, 10000), ConfigOf(12, 16000, 0), mild);
        });
        EXPECT_TRUE(ok) << out;
        EXPECT_NE(out.find("All echo bytes sent. Total sent: chunks: "), std::string::npos) << out;
        EXPECT_NE(out.find("All echo bytes received. Total chunks: "), std::string::npos) << out;
        const uint64_t sent = NumberAfter(out, ", bytes: ");
        EXPECT_GE(sent, 10000u);
        EXPECT_EQ(NumberAfter(out, ", recv: "), sent);
        EXPECT_NE(out.find("Pushing thread has quitted."), std::string::npos);
        EXPECT_NE(out.find("Pulling thread has quitted."), std::string::npos);
        EXPECT_NE(out.find("Now quitting echo server..."), std::string::npos);
        EXPECT_NE(out.find("Echo server stopped."), std::string::npos);
        // The pushing and pulling threads mark their lines.
        EXPECT_NE(out.find(">["), std::string::npos);
        EXPECT_NE(out.find("<["), std::string::npos);
    }
}

TEST_F(EchoOverLink, BothSidesPrintProgressWhileTheTestRuns) {
    // 26 paced chunks of 200 bytes: about 2.6 s, past both report intervals.
    EchoConfig config = ConfigOf(200, 200, 26 * 200);
    config.writeDelayMsec = 100;
    bool ok = false;
    const std::string out =
        support::CaptureStdout([&] { ok = ClientAgainstServer(config, ConfigOf(12, 200, 0)); });
    EXPECT_TRUE(ok) << out;
    const std::regex clientLine("\\d+ hours \\d+ secs, chunks: (\\d+), [0-9.]+ K?B, [0-9.]+ K?B/s");
    std::smatch found;
    ASSERT_TRUE(std::regex_search(out, found, clientLine)) << out;
    EXPECT_GT(std::stoi(found[1]), 0);
    EXPECT_NE(out.find("First client connected. Start timing."), std::string::npos);
    EXPECT_TRUE(std::regex_search(out, std::regex("Echoed \\d+ chunks, [0-9.]+ K?B/s"))) << out;
}

TEST_F(EchoOverLink, ClientKeyPrintsItsSettingsAndTheOutcome) {
    win::HANDLE server = OpenPortPath(link_.PathB());
    ASSERT_NE(server, win::INVALID_HANDLE_VALUE);
    RawEchoPeer peer(link_.RawB());
    win::CloseHandle(server);  // the raw peer serves this end
    EchoConfig config = ConfigOf(20, 300, 2000);
    config.srand = 77;
    config.writeDelayMsec = 5;
    config.timeoutLimit = 4000;
    KeyScript keys;
    const std::string out =
        support::CaptureStdout([&] { RunEchoClient(client_, config, false, keys.Hooks()); });
    EXPECT_NE(out.find("Using echo chunk size (min:20 , max:300)."), std::string::npos) << out;
    EXPECT_NE(out.find("Doing echo 2000 bytes(Urge), srand=77. ('0' to break)"), std::string::npos);
    EXPECT_NE(out.find("Each chunk is delayed 5 millisec."), std::string::npos);
    EXPECT_NE(out.find("Echo timeout limit is 4000 millisec."), std::string::npos);
    EXPECT_NE(out.find("Echo test success."), std::string::npos);
}

// The sender's generator as the format describes it: the C runtime's rand
// recurrence, a size from two draws' worth of bits, words of one draw each.
struct ExpectedStream {
    uint32_t state;
    uint32_t previous = 0;
    uint32_t Rand() {
        state = state * 214013u + 2531011u;
        return (state >> 16) & 0x7FFF;
    }
    uint32_t Size(uint32_t lo, uint32_t hi) {
        const uint32_t r = Rand();
        const uint32_t size = lo + ((previous << 16) | r) % (hi - lo + 1);
        previous = r;
        return size;
    }
};

TEST_F(EchoOverLink, ChunksOnTheWireFollowTheFormat) {
    struct Case {
        const char* name;
        uint32_t chunkMin, chunkMax;
        std::optional<uint32_t> startSeq;
    } cases[] = {{"bare headers", 12, 12, std::nullopt},
                 {"start sequence", 13, 47, 0x11233344u},
                 {"generator words", 12, 300, std::nullopt}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EchoConfig config = ConfigOf(c.chunkMin, c.chunkMax, 1200);
        config.startSeq = c.startSeq;
        config.srand = 5566;
        RawEchoPeer peer(link_.RawB());
        KeyScript keys;
        bool ok = false;
        const std::string out = support::CaptureStdout(
            [&] { ok = Do_Echo_cli(client_, config, false, keys.Hooks(), nullptr); });
        ASSERT_TRUE(ok) << out;
        peer.Stop();
        const auto chunks = peer.Chunks();
        ASSERT_FALSE(chunks.empty());
        ExpectedStream stream{5566};
        uint32_t seq = c.startSeq.value_or(0);
        for (size_t i = 0; i < chunks.size(); ++i) {
            const auto& chunk = chunks[i];
            const uint32_t length = Le32(chunk.data() + 4);
            EXPECT_EQ(Le32(chunk.data()), i);
            EXPECT_EQ(chunk.size(), stream.Size(c.chunkMin, c.chunkMax));
            EXPECT_EQ(Le32(chunk.data() + 8), crc32(0, chunk.data() + 12, length));
            for (uint32_t w = 0; w < length / 4; ++w) {
                const uint8_t* word = chunk.data() + 12 + 4 * w;
                if (c.startSeq) {
                    const uint32_t value = uint32_t{word[0]} << 24 | uint32_t{word[1]} << 16 |
                                           uint32_t{word[2]} << 8 | word[3];
                    ASSERT_EQ(value, seq++) << "chunk " << i << " word " << w;
                } else {
                    ASSERT_EQ(Le32(word), stream.Rand()) << "chunk " << i << " word " << w;
                }
            }
            for (uint32_t t = length / 4 * 4; t < length; ++t)
                EXPECT_EQ(chunk[12 + t], 0xFF);
        }
        if (c.startSeq) {
            const std::vector<uint8_t> first(chunks[0].begin() + 12, chunks[0].begin() + 16);
            if (chunks[0].size() >= 16) {
                EXPECT_EQ(first, (std::vector<uint8_t>{0x11, 0x23, 0x33, 0x44}));
            }
        }
    }
}

TEST_F(EchoOverLink, ClientFailsOnEachKindOfBadEcho) {
    struct Case {
        const char* name;
        uint32_t chunkMax;
        RawEchoPeer::Change change;
        const char* line;
    } cases[] = {
        {"wrong id", 200,
         [](size_t i, std::vector<uint8_t>& c) {
             if (i == 2)
                 PutLe32(c.data(), 7);
         },
         "@Chunk 2: DataError: Received wrong chunk-id. Recv:7, Expect:2"},
        {"wrong id of a bare header", 12,
         [](size_t i, std::vector<uint8_t>& c) {
             if (i == 1)
                 PutLe32(c.data(), 0);
         },
         "@Chunk 1: DataError: Received wrong chunk-id. Recv:0, Expect:1"},
        {"changed body", 200,
         [](size_t i, std::vector<uint8_t>& c) {
             if (i == 1 && c.size() > 12)
                 c.back() ^= 0x01;
             else if (i == 1)
                 PutLe32(c.data() + 8, 1);  // no body to change: the CRC then
         },
         "@Chunk 1: Error: Received wrong CRC. Recv:0x"},
        {"length over the maximum", 200,
         [](size_t i, std::vector<uint8_t>& c) {
             if (i == 0)
                 PutLe32(c.data() + 4, 5000);
         },
         "@Chunk 0: DataError: Received chunk length(5000) exceeds max(188)."},
        {"length one byte over the maximum", 200,
         [](size_t i, std::vector<uint8_t>& c) {
             if (i == 0)
                 PutLe32(c.data() + 4, 189);
         },
         "@Chunk 0: DataError: Received chunk length(189) exceeds max(188)."},
        // Echoes that stop short: the client's next chunk waits for this one.
        {"header cut short", 200,
         [](size_t i, std::vector<uint8_t>& c) {
             if (i == 1)
                 c.resize(5);
         },
         "@Chunk 1: DataError: Received less bytes(5) than Echo headsize(12)."},
        {"body cut short", 200,
         [](size_t i, std::vector<uint8_t>& c) {
             if (i == 1) {
                 c.resize(std::min<size_t>(c.size(), 112));
                 PutLe32(c.data() + 4, 188);  // promises more body than follows
             }
         },
         "@Chunk 1: DataError: Received less chunk body("},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EchoConfig config = ConfigOf(12, c.chunkMax, 100000);
        config.timeoutLimit = 500;
        config.srand = 3;
        bool ok = true;
        std::string out;
        {
            // A link of its own: nothing a failed case left in flight reaches the next.
            PtyLink link;
            win::HANDLE port = OpenPortPath(link.PathA());
            ASSERT_NE(port, win::INVALID_HANDLE_VALUE);
            RawEchoPeer peer(link.RawB(), c.change);
            KeyScript keys;
            out = support::CaptureStdout(
                [&] { ok = Do_Echo_cli(port, config, true, keys.Hooks(), nullptr); });
            peer.Stop();
            win::CloseHandle(port);
        }
        EXPECT_FALSE(ok);
        EXPECT_NE(out.find(c.line), std::string::npos) << out;
    }
}

TEST_F(EchoOverLink, ServerWithSmallerLimitReportsItAndStopsEchoing) {
    EchoConfig clientConfig = ConfigOf(12, 16000, 0);
    clientConfig.timeoutLimit = 1500;
    clientConfig.srand = 1;
    bool ok = true;
    const std::string out = support::CaptureStdout(
        [&] { ok = ClientAgainstServer(clientConfig, ConfigOf(12, 1000, 0)); });
    EXPECT_FALSE(ok);
    const std::regex limit(
        "Received wrong data\\. Echo body length\\((\\d+)\\) exceeds max expected\\(988\\)\\.");
    std::smatch found;
    ASSERT_TRUE(std::regex_search(out, found, limit)) << out;
    EXPECT_GT(std::stoi(found[1]), 988);
    EXPECT_NE(out.find("Pulling thread timeout(1500 millisec)!"), std::string::npos) << out;
    EXPECT_NE(out.find("Echo server stopped."), std::string::npos);
}

TEST_F(EchoOverLink, ServerUnderFullLoadStopsOnZeroAtOnce) {
    // While chunks keep coming the server's sleep never runs out; it must
    // still look at the keyboard, and stop within a moment of the key.
    win::HANDLE server = OpenPortPath(link_.PathB());
    ASSERT_NE(server, win::INVALID_HANDLE_VALUE);
    KeyScript serverKeys;
    KeyScript clientKeys;
    std::atomic<bool> serverDone{false};
    std::chrono::steady_clock::duration stopTook{};
    const std::string out = support::CaptureStdout([&] {
        std::thread serverThread([&] {
            RunEchoServer(server, ConfigOf(12, 16000, 0), serverKeys.Hooks());
            serverDone = true;
        });
        std::thread clientThread([&] {
            Do_Echo_cli(client_, ConfigOf(12, 16000, 0), false, clientKeys.Hooks(), nullptr);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(500));  // traffic flows
        const auto pressed = std::chrono::steady_clock::now();
        serverKeys.Press('0');
        const auto giveUp = pressed + std::chrono::seconds(5);
        while (!serverDone && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        stopTook = std::chrono::steady_clock::now() - pressed;
        clientKeys.Press('0');
        clientKeys.Press('0');
        clientThread.join();
        serverThread.join();
    });
    win::CloseHandle(server);
    EXPECT_LT(stopTook, std::chrono::seconds(2)) << out;
    EXPECT_NE(out.find("First client connected. Start timing."), std::string::npos) << out;
    EXPECT_NE(out.find("Now quitting echo server..."), std::string::npos) << out;
}

TEST_F(EchoOverLink, ClientWithoutServerStopsOnTheSecondZeroAndFails) {
    for (bool mild : {true, false}) {
        SCOPED_TRACE(mild ? "Mild" : "Urge");
        EchoConfig config = ConfigOf(12, 400, 0);
        KeyScript keys;
        std::thread typist([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            keys.Press('0');
            std::this_thread::sleep_for(std::chrono::milliseconds(900));
            keys.Press('0');
        });
        PtyLink link;  // one per case: the first case leaves bytes in flight
        win::HANDLE port = OpenPortPath(link.PathA());
        ASSERT_NE(port, win::INVALID_HANDLE_VALUE);
        bool ok = true;
        const std::string out = support::CaptureStdout(
            [&] { ok = Do_Echo_cli(port, config, mild, keys.Hooks(), nullptr); });
        typist.join();
        win::CloseHandle(port);
        EXPECT_FALSE(ok) << out;
        EXPECT_NE(out.find("Stopping echo flow... (In case no effect, press 0 again to force.)"),
                  std::string::npos)
            << out;
        EXPECT_NE(out.find("You pressed 0 again. Now force pushing/pulling thread to quit."),
                  std::string::npos);
        EXPECT_NE(out.find("Pulling op waited for 2000ms but cannot receive full echoed data. "
                           "CancelIo() it..."),
                  std::string::npos);
        EXPECT_NE(out.find("Pulling op CancelIo() done. (Cancel result: success)"),
                  std::string::npos);
        EXPECT_NE(out.find("Pushing thread has quitted."), std::string::npos);
        if (mild) {  // the pushing thread was idle: it sends one more chunk and stops
            EXPECT_NE(out.find("All echo bytes sent. Total sent: chunks: 2, bytes: "),
                      std::string::npos)
                << out;
        }
    }
}

TEST_F(EchoOverLink, PullingThreadThatCannotStartStopsThePushingThreadFirst) {
    KeyScript keys;
    ConsoleHooks hooks = keys.Hooks();
    int starts = 0;
    hooks.startThread = [&](vantrel::log::ThreadFunction function, void* argument,
                            int32_t stack) -> std::optional<vantrel::log::ThreadHandle> {
        if (++starts == 2)
            return std::nullopt;
        return vantrel::log::StartThread(function, argument, stack);
    };
    bool ok = true;
    const std::string out = support::CaptureStdout(
        [&] { ok = Do_Echo_cli(client_, ConfigOf(12, 100, 0), false, hooks, nullptr); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(starts, 2);
    // The pushing thread ended before the run returned (and freed its state).
    EXPECT_NE(out.find("Pushing thread has quitted."), std::string::npos) << out;
}

TEST_F(EchoOverLink, SizesThatLeaveNoRoomAreRefusedBeforeAnyByteMoves) {
    KeyScript keys;
    struct Case {
        uint32_t chunkMin, chunkMax;
    } clientCases[] = {{11, 100}, {200, 100}, {0, 0}};
    for (const Case& c : clientCases) {
        bool ok = true;
        const std::string out = support::CaptureStdout([&] {
            ok = Do_Echo_cli(client_, ConfigOf(c.chunkMin, c.chunkMax, 100), false, keys.Hooks(),
                             nullptr);
        });
        EXPECT_FALSE(ok) << c.chunkMin << "/" << c.chunkMax;
        EXPECT_NE(out.find("Bad echo chunk sizes"), std::string::npos) << out;
    }
    bool served = true;
    const std::string out = support::CaptureStdout(
        [&] { served = Do_Echo_srv(client_, ConfigOf(12, 11, 0), keys.Hooks(), nullptr); });
    EXPECT_FALSE(served);
    EXPECT_NE(out.find("Bad echo chunk maximum (11)."), std::string::npos) << out;
    uint8_t byte;
    EXPECT_FALSE(ReadExactly(link_.RawB(), &byte, 1, 1)) << "a refused run sent bytes";
}

TEST_F(EchoOverLink, PartialReadsGatherTheCountAndAnEmptyReadIsNoSuccess) {
    EchoConfig config;
    config.readNibble = 7;
    EchoClientState state;
    state.port = client_;
    state.config = &config;
    const ConsoleHooks hooks = CompleteHooks({});
    state.hooks = &hooks;
    state.pullForce = win::CreateEvent(nullptr, win::TRUE, win::FALSE, nullptr);
    PullContext context{&state, win::CreateEvent(nullptr, win::FALSE, win::FALSE, nullptr), 2000};
    std::vector<uint8_t> buffer(64, 0);

    // Bytes waiting: read in pieces of at most 7 until all 30 are there.
    std::vector<uint8_t> sent(30);
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<uint8_t>(i * 7 + 1);
    ASSERT_TRUE(WriteAll(link_.RawB(), sent.data(), sent.size()));
    ChunkReader reader{0, 0, buffer.data(), 64, 30, 0};
    EXPECT_EQ(ReadFile_wqe_partial(reader, 30, context), 0u);
    EXPECT_EQ(reader.received, 30u);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 30), sent);

    // Time-outs that end a read at once with nothing: not a success.
    win::COMMTIMEOUTS atOnce{win::MAXDWORD, 0, 0, 0, 0};
    ASSERT_TRUE(win::SetCommTimeouts(client_, &atOnce));
    ChunkReader empty{5, 0, buffer.data(), 64, 12, 0};
    win::DWORD code = 0;
    const std::string out =
        support::CaptureStdout([&] { code = ReadFile_wqe_partial(empty, 12, context); });
    EXPECT_EQ(code, kErrorTimeout);
    EXPECT_EQ(empty.received, 0u);
    EXPECT_NE(out.find("Error: ReadFile_wqe_partial() reports nRed=0. WinErr=1460("),
              std::string::npos)
        << out;
    win::CloseHandle(context.ownEvent);
    win::CloseHandle(state.pullForce);
}

// A raw client that sends one chunk to our server and reads what comes back.
std::vector<uint8_t> ChunkFor(uint32_t id, const std::vector<uint8_t>& body, bool goodCrc) {
    std::vector<uint8_t> chunk(12);
    PutLe32(chunk.data(), id);
    PutLe32(chunk.data() + 4, static_cast<uint32_t>(body.size()));
    const uint32_t crc = crc32(0, body.data(), static_cast<uInt>(body.size()));
    PutLe32(chunk.data() + 8, goodCrc ? crc : crc ^ 0x5A5A5A5Au);
    chunk.insert(chunk.end(), body.begin(), body.end());
    return chunk;
}

TEST_F(EchoOverLink, ServerEchoesAWrongCrcButNotAnOversizedChunk) {
    win::CloseHandle(client_);  // the server takes end A here
    client_ = win::INVALID_HANDLE_VALUE;
    win::HANDLE server = OpenPortPath(link_.PathA());
    ASSERT_NE(server, win::INVALID_HANDLE_VALUE);
    KeyScript keys;
    const std::vector<uint8_t> body = {1, 2, 3, 4, 5, 6, 7};
    const auto good = ChunkFor(0, body, true);
    const auto badCrc = ChunkFor(1, body, false);
    const auto oversized = ChunkFor(2, std::vector<uint8_t>(100, 9), true);  // limit 64
    std::vector<uint8_t> back(good.size() + badCrc.size());
    bool echoed = false;
    bool extra = true;
    const std::string out = support::CaptureStdout([&] {
        std::thread serverThread([&] { RunEchoServer(server, ConfigOf(12, 64, 0), keys.Hooks()); });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        WriteAll(link_.RawB(), good.data(), good.size());
        WriteAll(link_.RawB(), badCrc.data(), badCrc.size());
        echoed = ReadExactly(link_.RawB(), back.data(), back.size());
        WriteAll(link_.RawB(), oversized.data(), oversized.size());
        uint8_t more[12];
        extra = ReadExactly(link_.RawB(), more, 12, 1);
        keys.Press('0');
        serverThread.join();
    });
    win::CloseHandle(server);
    ASSERT_TRUE(echoed) << out;
    std::vector<uint8_t> expected = good;
    expected.insert(expected.end(), badCrc.begin(), badCrc.end());
    EXPECT_EQ(back, expected);
    EXPECT_FALSE(extra) << "an oversized chunk came back";
    EXPECT_NE(out.find("!!! Wrong crc32 detected on chunk-id 1. "), std::string::npos) << out;
    EXPECT_NE(out.find("Received wrong data. Echo body length(100) exceeds max expected(52)."),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Echo server stopped."), std::string::npos);
}

class EchoInTempDir : public EchoOverLink {
  protected:
    void SetUp() override {
        EchoOverLink::SetUp();
        saved_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_.Path());
    }
    void TearDown() override {
        std::filesystem::current_path(saved_);
        EchoOverLink::TearDown();
    }
    static std::string Slurp(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::filesystem::path saved_;
    support::TempDir dir_{"vantrel_echo_logs"};
};

TEST_F(EchoInTempDir, LogsHoldOneEntryPerChunkOnBothSides) {
    EchoConfig config = ConfigOf(12, 60, 600);
    config.needLog = true;
    config.logRowWidth = 8;
    bool ok = false;
    const std::string out = support::CaptureStdout([&] {
        win::HANDLE server = OpenPortPath(link_.PathB());
        KeyScript serverKeys;
        std::thread serverThread([&] { RunEchoServer(server, config, serverKeys.Hooks()); });
        KeyScript clientKeys;
        ok = true;
        RunEchoClient(client_, config, false, clientKeys.Hooks());
        serverKeys.Press('0');
        serverThread.join();
        win::CloseHandle(server);
    });
    ASSERT_NE(out.find("Echo test success."), std::string::npos) << out;
    const uint64_t chunks = NumberAfter(out, "Total sent: chunks: ");
    ASSERT_GT(chunks, 0u);
    for (const char* name :
         {"echo_cli_out.log", "echo_cli_in.log", "echo_srv_in.log", "echo_srv_out.log"}) {
        SCOPED_TRACE(name);
        const std::string log = Slurp(name);
        EXPECT_EQ(CountOf(log, " bytes: "), chunks) << log;
        EXPECT_NE(log.find("] #0: "), std::string::npos);
        EXPECT_NE(log.find("] #" + std::to_string(chunks - 1) + ": "), std::string::npos);
        EXPECT_EQ(log.find("mismatch"), std::string::npos);
    }
    // The first chunk's header opens the first dump row: chunk id 0.
    EXPECT_NE(Slurp("echo_cli_out.log").find("00 00 00 00"), std::string::npos);
}

TEST_F(EchoInTempDir, ManualInterventionDumpsWhatArrivedAndWaitsForZero) {
    EchoConfig config = ConfigOf(40, 40, 400);
    config.manualIntervene = true;
    RawEchoPeer peer(link_.RawB(), [](size_t i, std::vector<uint8_t>& c) {
        if (i == 0)
            c[20] ^= 0xFF;
    });
    KeyScript keys;
    keys.Answer('x');
    keys.Answer('0');  // only the prompt's blocking read takes these
    bool ok = true;
    const std::string out = support::CaptureStdout(
        [&] { ok = Do_Echo_cli(client_, config, false, keys.Hooks(), nullptr); });
    EXPECT_FALSE(ok);
    EXPECT_NE(out.find("Pulling error occurred. Waiting for manual intervention."),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Chunk 0 requesting 40 bytes, received 40 bytes."), std::string::npos);
    EXPECT_NE(out.find("Dumping 40 already received bytes:"), std::string::npos);
    EXPECT_NE(out.find("See full byte-dump in file: echo_in.partial.log"), std::string::npos);
    EXPECT_NE(out.find("(Press '0' to continue)"), std::string::npos);
    const std::string dump = Slurp("echo_in.partial.log");
    EXPECT_NE(dump.find("@Chunk 0: Requesting 40 bytes, received 40 bytes."), std::string::npos)
        << dump;
    EXPECT_NE(dump.find("1c 00 00 00"), std::string::npos) << dump;  // echolen 28
}

}  // namespace
