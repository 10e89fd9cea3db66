// Replies longer than anything a caller can hold, replies that never end and
// malformed image headers, each against the simulated scanner in a process of
// its own: the export fails with its documented result, copies nothing past
// the documented bound, does not crash, and the process's peak memory stays
// small. A reply given up on is never taken for the next command's.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fault_bench.h"
#include "ferrolink/commands.h"
#include "ferrolink/image.h"
#include "ferrolink/limits.h"
#include "ferrolink/notify.h"

namespace {

using scansim::Attachment;
using scansim::ImageAnswer;
using Kind = scansim::Fault::Kind;

constexpr long kPeakLimitKb = 64 * 1024;

// AddressSanitizer's shadow memory alone puts a process above the limit, so
// there the limit applies to what the process grows by after its start.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif
const std::string kLongEsn(100 * 1000, '7');  // a 100 KB answer to QRYESN
const std::string kReplyHeader(
    "\x02\x01"
    "00000",
    7);
constexpr char kCanary = 'Z';

struct Outcome {
    int result = -99;
    long startKb = -1;  // resident memory when the child began counting
    long peakKb = -1;
    char complaints[1024] = {};
};

// Peak resident memory of this process (kB), from /proc/self/status.
long PeakRssKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// A forked child inherits its parent's peak; it starts counting afresh here.
void ResetPeakRss() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

struct Call {
    scansim::Scanner& scanner;
    _QVDeviceInfo record;
    std::string complaints;
    void Check(bool good, const std::string& what) {
        if (!good)
            complaints += what + "; ";
    }
    // An output whose bytes beyond `bound` must stay untouched.
    std::vector<char> Output(size_t size) { return std::vector<char>(size, kCanary); }
    void CheckUntouchedFrom(const std::vector<char>& output, size_t bound) {
        for (size_t i = bound; i < output.size(); ++i) {
            if (output[i] != kCanary) {
                Check(false, "byte " + std::to_string(i) + " written past the bound");
                return;
            }
        }
    }
};

struct Row {
    const char* name;
    Attachment attachment;
    std::function<void(scansim::Scanner&)> arrange;
    std::function<int(Call&)> call;
    int expected;
};

void LongEsn(scansim::Scanner& scanner) {
    scansim::Identity identity = scanner.GetIdentity();
    identity.esn = kLongEsn;
    scanner.SetIdentity(identity);
}

void Endless(scansim::Scanner& scanner) {
    scanner.SetFault({Kind::kEndless, 0, 1});
}

std::function<void(scansim::Scanner&)> Image(std::string header, uint64_t bodyBytes) {
    return [header, bodyBytes](scansim::Scanner& scanner) {
        scanner.SetImageAnswer(ImageAnswer{header, bodyBytes});
    };
}

// Hands the export an output of `outputBytes` and checks that nothing from
// byte `bound` on was written; with `emptyText`, that the output holds an
// empty text too.
std::function<int(Call&)> Bounded(size_t outputBytes, size_t bound, bool emptyText,
                                  std::function<int(Call&, char*)> call) {
    return [=](Call& c) {
        auto out = c.Output(outputBytes);
        const int result = call(c, out.data());
        if (emptyText)
            c.Check(out[0] == '\0', "the output is no empty text");
        c.CheckUntouchedFrom(out, bound);
        return result;
    };
}

const char kRawQryEsn[] =
    "\x7E\x01"
    "0000@QRYESN;\x03";

// Waits until this process holds the scanner's tty open besides the scanner's
// own handle, that is until the export has opened it.
bool WaitUntilHostOpened(const scansim::Scanner& scanner) {
    std::error_code ec;
    const auto node = std::filesystem::canonical(scanner.LinkPath(), ec);
    if (ec)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        int holders = 0;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
            std::error_code linkError;
            if (std::filesystem::read_symlink(entry.path(), linkError) == node)
                ++holders;
        }
        if (holders >= 2)
            return true;
        std::this_thread::yield();
    }
    return false;
}

// The scanner sends a framed reply of `payload` bytes by itself once the
// export has opened its tty (the opening drops whatever came before).
std::function<int(Call&)> UnsolicitedLongReply(size_t payload, std::function<int(Call&)> readIt) {
    return [payload, readIt](Call& c) {
        std::thread device([&c, payload] {
            c.Check(WaitUntilHostOpened(c.scanner), "the export never opened the tty");
            // The opening flushes the tty right after taking it.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            c.scanner.SendScan(kReplyHeader + std::string(payload, 'p') + "\x06;\x03");
        });
        const int result = readIt(c);
        device.join();
        return result;
    };
}

const std::vector<Row>& Rows() {
    using A = Attachment;
    static const std::vector<Row> rows = {
        // The forms without a size copy at most FERROLINK_COMMAND_OUTPUT_BYTES.
        {"SendCommand100KbAnswer", A::kUsb, LongEsn,
         Bounded(kLongEsn.size() + 4096, FERROLINK_COMMAND_OUTPUT_BYTES, true,
                 [](Call& c, char* out) { return SendCommand(&c.record, "QRYESN", out); }),
         0},
        {"SendCommandCom100KbAnswer", A::kCom, LongEsn,
         Bounded(
             kLongEsn.size() + 4096, FERROLINK_COMMAND_OUTPUT_BYTES, false,
             [](Call&, char* out) { return SendCommandCom(faults_test::kComPort, "QRYESN", out); }),
         0},
        {"SendCommandHEX100KbAnswer", A::kUsb, LongEsn,
         Bounded(kLongEsn.size() + 4096, FERROLINK_COMMAND_OUTPUT_BYTES, false,
                 [](Call& c, char* out) { return SendCommandHEX(&c.record, kRawQryEsn, out); }),
         0},
        // The sized forms say "too long" and write nothing past the capacity.
        {"SendCommandSizedTooSmall", A::kUsb, LongEsn,
         Bounded(
             kLongEsn.size() + 4096, 1000, true,
             [](Call& c, char* out) { return SendCommandSized(&c.record, "QRYESN", out, 1000); }),
         FERROLINK_TOO_LONG},
        {"SendCommandComSizedTooSmall", A::kCom, LongEsn,
         Bounded(200, 100, false,
                 [](Call&, char* out) {
                     return SendCommandComSized(faults_test::kComPort, "QRYESN", out, 100);
                 }),
         FERROLINK_TOO_LONG},
        {"SendCommandHEXSizedTooSmall", A::kUsb, LongEsn,
         Bounded(kLongEsn.size() + 4096, kLongEsn.size(), false,
                 [](Call& c, char* out) {
                     return SendCommandHEXSized(&c.record, kRawQryEsn, out, kLongEsn.size());
                 }),
         FERROLINK_TOO_LONG},
        // With room for it the whole answer arrives: payload and NUL fit exactly.
        {"SendCommandSizedRoomEnough", A::kUsb, LongEsn,
         [](Call& c) {
             const std::string payload = "QRYESN" + kLongEsn + "\x06;\x03";
             auto out = c.Output(payload.size() + 1 + 16);
             const int result =
                 SendCommandSized(&c.record, "QRYESN", out.data(), payload.size() + 1);
             c.Check(std::string(out.data(), payload.size() + 1) == payload + '\0',
                     "the payload is not whole");
             c.CheckUntouchedFrom(out, payload.size() + 1);
             return result;
         },
         1},
        {"SendCommandHEXSizedRoomEnough", A::kUsb, LongEsn,
         [](Call& c) {
             const std::string reply = kReplyHeader + "QRYESN" + kLongEsn + "\x06;\x03";
             auto out = c.Output(reply.size() + 1);
             const int result = SendCommandHEXSized(&c.record, kRawQryEsn, out.data(), out.size());
             c.Check(std::string(out.data()) == reply, "the reply is not whole");
             return result;
         },
         1},
        // A framed reply that never ends fails like one that stops short.
        {"SendCommandEndlessReply", A::kUsb, Endless,
         [](Call& c) {
             auto out = c.Output(FERROLINK_MAX_REPLY_BYTES + 1);
             const int result = SendCommandSized(&c.record, "QRYESN", out.data(), out.size());
             c.Check(out[0] == '\0', "a piece of the endless reply was handed out");
             return result;
         },
         0},
        {"SendCommandComEndlessReply", A::kCom, Endless,
         [](Call& c) {
             auto out = c.Output(FERROLINK_COMMAND_OUTPUT_BYTES);
             return SendCommandCom(faults_test::kComPort, "QRYESN", out.data());
         },
         0},
        {"GetDevBufLongReply", A::kUsb, nullptr,
         UnsolicitedLongReply(50000,
                              [](Call& c) {
                                  auto out = c.Output(60000);
                                  int length = -1;
                                  ops_test::LogCapture log;
                                  const bool read = GetDevBuf(
                                      &c.record, reinterpret_cast<unsigned char*>(out.data()),
                                      &length);
                                  c.Check(length == 0, "a length for bytes not copied");
                                  c.CheckUntouchedFrom(out, 0);
                                  // Refused for its length, not missed.
                                  bool refused = false;
                                  for (const ops_test::LogLine& line : log.Lines())
                                      refused = refused || line.text ==
                                                               "GetDevBuf reply longer "
                                                               "than the buffer";
                                  c.Check(refused, "the long reply never came");
                                  return read ? 1 : 0;
                              }),
         0},
        {"GetDevBufSizedLongReply", A::kUsb, nullptr,
         UnsolicitedLongReply(50000,
                              [](Call& c) {
                                  auto out = c.Output(60000);
                                  size_t length = 0;
                                  const int result = GetDevBufSized(
                                      &c.record, reinterpret_cast<unsigned char*>(out.data()),
                                      20000, &length);
                                  c.Check(length == 50010, "the length does not tell what came");
                                  c.CheckUntouchedFrom(out, 0);
                                  return result;
                              }),
         FERROLINK_TOO_LONG},
        {"GetDevBufSizedRoomEnough", A::kUsb, nullptr,
         UnsolicitedLongReply(50000,
                              [](Call& c) {
                                  auto out = c.Output(60000);
                                  size_t length = 0;
                                  const int result = GetDevBufSized(
                                      &c.record, reinterpret_cast<unsigned char*>(out.data()),
                                      out.size(), &length);
                                  c.Check(length == 50010, "wrong length");
                                  c.Check(std::string(out.data(), 7) == kReplyHeader &&
                                              std::string(out.data() + 50007, 3) == "\x06;\x03",
                                          "the reply is not whole");
                                  c.CheckUntouchedFrom(out, 50010);
                                  return result;
                              }),
         1},
        // Image headers: no digits, a size beyond six digits with pixels
        // without end, a valid header whose pixels go on, and one whose pixels
        // stop short of what it announces.
        {"ImageHeaderOfNonDigits", A::kUsb, Image("IMGGETabcdefghijklmn", 1000),
         [](Call& c) { return qv_GetPic(&c.record) != nullptr ? 1 : 0; }, 0},
        {"ImageHeaderOfHugeSize", A::kUsb, Image("IMGGET99999999999999", ImageAnswer::kEndless),
         [](Call& c) { return qv_GetPic(&c.record) != nullptr ? 1 : 0; }, 0},
        {"ImagePixelsWithoutEnd", A::kUsb, Image("IMGGET06400480307200", ImageAnswer::kEndless),
         [](Call& c) { return qv_GetPic(&c.record) != nullptr ? 1 : 0; }, 0},
        {"ImagePixelsShort", A::kUsb, Image("IMGGET06400480307200", 300000),
         [](Call& c) { return qv_GetPic(&c.record) != nullptr ? 1 : 0; }, 0},
        {"ImageSizedOfNonDigits", A::kUsb, Image("IMGGET0640048O307200", 307200),
         [](Call& c) {
             auto out = c.Output(FERROLINK_MAX_IMAGE_BYTES);
             QVImageInfo info{};
             const int result = qv_GetPicSized(
                 &c.record, reinterpret_cast<unsigned char*>(out.data()), out.size(), &info);
             c.CheckUntouchedFrom(out, 0);
             return result;
         },
         0},
        // A real image: copied whole into room enough, refused by one byte less.
        {"ImageSizedWhole", A::kUsb, [](scansim::Scanner& s) { s.SetImageSize(600, 500); },
         [](Call& c) {
             auto out = c.Output(300000 + 16);
             QVImageInfo info{};
             const int result = qv_GetPicSized(
                 &c.record, reinterpret_cast<unsigned char*>(out.data()), 300000, &info);
             c.Check(info.nWidth == 600 && info.nHeight == 500 && info.nBytes == 300000,
                     "wrong header values");
             // The simulator's grey bytes: 0x20 + (x + y) mod 0xC0, row by row.
             for (size_t i = 0; i < 300000; ++i) {
                 const size_t x = i % 600;
                 const size_t y = i / 600;
                 if (static_cast<unsigned char>(out[i]) != 0x20 + (x + y) % 0xC0) {
                     c.Check(false, "image byte " + std::to_string(i) + " differs");
                     break;
                 }
             }
             c.CheckUntouchedFrom(out, 300000);
             return result;
         },
         1},
        {"ImageSizedOneByteShort", A::kUsb, [](scansim::Scanner& s) { s.SetImageSize(600, 500); },
         [](Call& c) {
             auto out = c.Output(300000);
             QVImageInfo info{};
             const int result = qv_GetPicSized(
                 &c.record, reinterpret_cast<unsigned char*>(out.data()), 299999, &info);
             c.Check(info.nBytes == 300000, "the size is not told");
             c.CheckUntouchedFrom(out, 0);
             return result;
         },
         FERROLINK_TOO_LONG},
        // A reply longer than the library reads: given up on, and its rest is
        // not taken for the answer to the next command.
        {"NextCommandAfterAnOverlongReply", A::kUsb,
         [](scansim::Scanner& s) {
             s.SetFault({Kind::kHuge, 0, 1, size_t{3} << 20});
         },
         [](Call& c) {
             auto out = c.Output(size_t{4} << 20);
             const int first = SendCommandSized(&c.record, "QRYESN", out.data(), out.size());
             c.Check(first == 0, "the overlong reply gave " + std::to_string(first));
             c.Check(out[0] == '\0', "a piece of the overlong reply was handed out");
             c.scanner.SetFault({});
             const int second = SendCommandSized(&c.record, "QRYPSN", out.data(), out.size());
             c.Check(std::string(out.data()) == "QRYPSNSIM0001\x06;\x03",
                     "the next command got " + std::string(out.data()).substr(0, 40));
             return second;
         },
         1},
    };
    return rows;
}

Outcome RunRow(const Row& row) {
    Outcome outcome;
    ResetPeakRss();
    outcome.startKb = PeakRssKb();
    support::RuntimeDir ns{"ferrolink-faults-ns"};
    auto scanner = faults_test::StartScanner(row.attachment);
    if (scanner == nullptr) {
        std::snprintf(outcome.complaints, sizeof outcome.complaints, "the scanner did not start");
        return outcome;
    }
    if (row.arrange)
        row.arrange(*scanner);
    Call call{*scanner, faults_test::RecordFor(row.attachment), {}};
    outcome.result = row.call(call);
    outcome.peakKb = PeakRssKb();
    std::snprintf(outcome.complaints, sizeof outcome.complaints, "%s", call.complaints.c_str());
    // The scanner stops streaming before the child ends.
    scanner->SetFault({});
    scanner->SetImageAnswer(std::nullopt);
    return outcome;
}

TEST(ReplyBounds, EachExportFailsWithinItsBoundWithoutCrashOrGrowth) {
    faults_test::RunRowsApart<Outcome>(Rows(), RunRow, [](const Row& row, const Outcome& outcome) {
        RecordProperty(std::string(row.name) + "_peak_kb", std::to_string(outcome.peakKb));
        EXPECT_EQ(outcome.result, row.expected);
        EXPECT_STREQ(outcome.complaints, "");
        EXPECT_GT(outcome.peakKb, 0);
        EXPECT_LT(outcome.peakKb - (kAddressSanitizer ? outcome.startKb : 0), kPeakLimitKb);
    });
}

}  // namespace
