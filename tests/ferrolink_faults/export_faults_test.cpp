// Every export against a scanner that misbehaves on every reply: the export
// returns its failure value (or the value its contract gives for that reply),
// within the reply guards, leaves only whole files behind, and the library
// works again once the scanner behaves.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fault_bench.h"
#include "ferrolink/commands.h"
#include "ferrolink/config.h"
#include "ferrolink/discovery.h"
#include "ferrolink/firmware.h"
#include "ferrolink/identity.h"
#include "ferrolink/image.h"
#include "ferrolink/notify.h"

namespace {

using scansim::Attachment;
using Kind = scansim::Fault::Kind;

constexpr size_t kOutputBytes = size_t{4} << 20;  // room for a 1 MiB reply, many times over
constexpr char kEsn[] = "1234567890:0001:1";

struct Call {
    _QVDeviceInfo record{};
    std::vector<char> output = std::vector<char>(kOutputBytes, '\0');
    std::string complaints;  // what the export got wrong besides its result
    void Check(bool good, const char* what) {
        if (!good)
            complaints += std::string(what) + " ";
    }
};

// Texts a record or an output may hold after a fault: nothing, or the
// scanner's own values; never pieces of a damaged reply.
bool EmptyOr(const char* text, size_t size, const char* good) {
    const std::string value(text, strnlen(text, size));
    return value.empty() || value == good;
}

// What an export is expected to return with each fault in place.
struct Expected {
    int silence;
    int garbage;
    int truncated;
    int huge;
    int nak;
    int disconnect;
    int For(Kind kind) const {
        switch (kind) {
            case Kind::kSilence:
                return silence;
            case Kind::kGarbage:
                return garbage;
            case Kind::kTruncated:
                return truncated;
            case Kind::kHuge:
                return huge;
            case Kind::kNak:
                return nak;
            default:
                return disconnect;
        }
    }
};

struct ExportRow {
    const char* name;
    Attachment attachment;
    int exchanges;  // replies the export waits for at most, for the time bound
    std::function<int(Call&)> call;
    Expected expected;
};

int Bool(bool value) {
    return value ? 1 : 0;
}

// The file name exports take as a writable text.
char* Text(const char* name) {
    static std::string held;
    held = name;
    return held.data();
}

const std::vector<ExportRow>& Rows() {
    static const std::vector<ExportRow> rows = {
        // The forms without a size copy at most FERROLINK_COMMAND_OUTPUT_BYTES:
        // the 1 MiB reply fails them.
        {"SendCommand",
         Attachment::kUsb,
         1,
         [](Call& c) { return SendCommand(&c.record, "QRYESN", c.output.data()); },
         {0, 0, 0, 0, 0, 0}},
        {"SendCommandCom",
         Attachment::kCom,
         1,
         [](Call& c) { return SendCommandCom(faults_test::kComPort, "QRYESN", c.output.data()); },
         {0, 0, 0, 0, 0, 0}},
        // Unframed: "any reply" counts, whatever its status byte.
        {"SendCommandHEX",
         Attachment::kUsb,
         1,
         [](Call& c) {
             return SendCommandHEX(&c.record,
                                   "\x7E\x01"
                                   "0000@QRYESN;\x03",
                                   c.output.data());
         },
         {0, 1, 1, 0, 1, 1}},
        {"SendSingle",
         Attachment::kUsb,
         1,
         [](Call& c) { return SendSingle(&c.record, c.output.data()); },
         {0, 1, 1, 0, 1, 1}},
        {"SendCmdClave",
         Attachment::kUsb,
         2,
         [](Call& c) { return SendCmdClave(&c.record, kEsn); },
         {0, 0, 0, 1, 0, 0}},
        {"OpenGreenILL",
         Attachment::kUsb,
         2,
         [](Call& c) { return OpenGreenILL(&c.record); },
         {0, 0, 0, 0, 0, 0}},
        // The replies are not examined: sending is all that counts, and a
        // scanner unplugged after the first command was not sent the second.
        {"SetDevicePDN",
         Attachment::kUsb,
         4,
         [](Call& c) { return SetDevicePDN(&c.record, "Renamed"); },
         {1, 1, 1, 1, 1, 0}},
        {"SetDeviceSN",
         Attachment::kUsb,
         4,
         [](Call& c) { return SetDeviceSN(&c.record, "SN42"); },
         {1, 1, 1, 1, 1, 0}},
        // Without a readable identification nothing is written.
        {"SetDeviceBSN",
         Attachment::kUsb,
         3,
         [](Call& c) { return SetDeviceBSN(&c.record); },
         {0, 0, 0, 1, 1, 0}},
        // Discovery lists the endpoint even when it does not identify itself;
        // its texts stay empty rather than holding a damaged reply.
        {"qv_GetDevice",
         Attachment::kUsb,
         1,
         [](Call& c) {
             _QVDeviceInfo devices[4];
             std::memset(static_cast<void*>(devices), 0, sizeof(devices));
             const int found = qv_GetDevice(devices, 4);
             c.Check(
                 EmptyOr(devices[0].szSerialNumber, sizeof devices[0].szSerialNumber, "SIM0001"),
                 "damaged serial number");
             c.Check(EmptyOr(devices[0].szProductName, sizeof devices[0].szProductName,
                             "KTR Sim Scanner"),
                     "damaged product name");
             return found;
         },
         {1, 1, 1, 1, 1, 1}},
        {"GetProductNameAndSN",
         Attachment::kUsb,
         1,
         [](Call& c) {
             char product[512] = {};
             char serial[512] = {};
             const int result = GetProductNameAndSN(product, serial);
             c.Check(EmptyOr(product, sizeof product, "KTR Sim Scanner"), "damaged product name");
             c.Check(EmptyOr(serial, sizeof serial, "SIM0001"), "damaged serial number");
             return result;
         },
         {0, 0, 0, 0, 0, 0}},
        {"GetSN",
         Attachment::kUsb,
         1,
         [](Call& c) {
             const char* serial = GetSN();
             c.Check(serial != nullptr, "null serial text");
             return serial != nullptr && EmptyOr(serial, 256, "SIM0001") ? 1 : 0;
         },
         {1, 1, 1, 1, 1, 1}},
        {"setDeviceInfo",
         Attachment::kUsb,
         3,
         [](Call&) { return setDeviceInfo("1234567890", "0001", "1"); },
         {0, 0, 0, 1, 0, 0}},
        {"changeDevMode",
         Attachment::kUsb,
         4,
         [](Call&) { return changeDevMode("2"); },
         {0, 0, 0, 0, 0, 0}},
        {"SaveOffice",
         Attachment::kUsb,
         2,
         [](Call& c) { return SaveOffice(&c.record); },
         {0, 0, 0, 1, 0, 0}},
        {"qv_SaveXml",
         Attachment::kUsb,
         2,
         [](Call& c) {
             qv_SaveXml(&c.record);
             return 1;
         },
         {1, 1, 1, 1, 1, 1}},
        {"qv_SavetoDevice",
         Attachment::kCom,
         4,
         [](Call&) {
             return Bool(
                 qv_SavetoDevice(Text(faults_test::kDownloadFile), faults_test::kComPort, 115200));
         },
         {0, 0, 0, 0, 0, 0}},
        // Parts the device refuses in a whole reply do not stop a download (they
        // go into the operation log); bytes that are no whole reply do.
        {"qv_SavetoDeviceAN",
         Attachment::kUsb,
         4,
         [](Call& c) {
             return Bool(qv_SavetoDeviceAN(Text(faults_test::kDownloadFile), &c.record));
         },
         {0, 0, 0, 1, 1, 0}},
        {"qv_SavetoDeviceAN_U",
         Attachment::kUsb,
         4,
         [](Call& c) {
             return Bool(qv_SavetoDeviceAN_U(Text(faults_test::kDownloadFile), &c.record));
         },
         {0, 0, 0, 1, 1, 0}},
        {"qv_UpdateKernelDevice",
         Attachment::kUsb,
         2,
         [](Call& c) {
             return Bool(qv_UpdateKernelDevice(Text(faults_test::kFirmwareFile), &c.record));
         },
         {0, 0, 0, 0, 0, 0}},
        {"qv_UpdateKernelDevice1",
         Attachment::kUsb,
         2,
         [](Call& c) {
             FirmwareUploadInfo info{};
             return Bool(
                 qv_UpdateKernelDevice1(Text(faults_test::kFirmwareFile), &c.record, &info));
         },
         {0, 0, 0, 0, 0, 0}},
        {"qv_UpdateKernelDevicePort",
         Attachment::kCom,
         2,
         [](Call& c) {
             int error = 0;
             const bool ok = qv_UpdateKernelDevicePort(Text(faults_test::kFirmwareFile),
                                                       faults_test::kComPort, 115200, 0, &error);
             c.Check(ok || error != 0, "a failed transfer gave no error code");
             return Bool(ok);
         },
         {0, 0, 0, 0, 0, 0}},
        // Sends nothing, so it only waits for what the scanner sends by itself.
        {"GetDevBuf",
         Attachment::kUsb,
         1,
         [](Call& c) {
             int length = -1;
             const bool read =
                 GetDevBuf(&c.record, reinterpret_cast<unsigned char*>(c.output.data()), &length);
             c.Check(length == 0, "bytes reported although the scanner sent none");
             return Bool(read);
         },
         {0, 0, 0, 0, 0, 0}},
        // Only a whole image counts: exactly the bytes its header announces.
        // The status byte is not examined, so a refused one still gives it.
        {"qv_GetPic",
         Attachment::kUsb,
         4,
         [](Call& c) { return qv_GetPic(&c.record) != nullptr ? 1 : 0; },
         {0, 0, 0, 0, 1, 0}},
    };
    return rows;
}

const char* FaultName(Kind kind) {
    switch (kind) {
        case Kind::kSilence:
            return "Silence";
        case Kind::kGarbage:
            return "Garbage";
        case Kind::kTruncated:
            return "CutInTheMiddle";
        case Kind::kHuge:
            return "OneMebibyteReply";
        case Kind::kNak:
            return "NakForEverything";
        case Kind::kDisconnect:
            return "DisconnectMidReply";
        default:
            return "Other";
    }
}

// What one export did in its own process, handed to the test through a pipe.
struct Outcome {
    int result = -99;
    long long elapsedMs = 0;
    unsigned firmwareUpdates = 0;
    bool drained = false;
    bool answersAgain = false;
    unsigned scannerReceived = 0;  // frames and raw writes the scanner got
    char complaints[1024] = {};
};

void Complain(Outcome& outcome, const std::string& text) {
    const size_t used = strnlen(outcome.complaints, sizeof outcome.complaints);
    std::snprintf(outcome.complaints + used, sizeof outcome.complaints - used, "%s; ",
                  text.c_str());
}

// The files exports read or overwrite, as an earlier successful run left them.
void WriteStartFiles() {
    faults_test::WritePreviousDocument(faults_test::kOfficeFile);
    faults_test::WritePreviousDocument(faults_test::kConfigSetFile);
    faults_test::WriteDownloadSet(faults_test::kDownloadFile, 12);
    ops_test::WriteFirmwareFile(faults_test::kFirmwareFile, 2, "V2.0.0", 5000);
}

// Files in `dir` beyond the start files and `more`, damaged documents, and
// what the call itself found wrong.
void ComplainAboutLeftovers(Outcome& outcome, const faults_test::fs::path& dir, const Call& call,
                            const std::vector<std::string>& more) {
    std::vector<std::string> allowed = {faults_test::kOfficeFile, faults_test::kConfigSetFile,
                                        faults_test::kDownloadFile, faults_test::kFirmwareFile};
    allowed.insert(allowed.end(), more.begin(), more.end());
    for (const std::string& problem : faults_test::FileProblems(dir, allowed))
        Complain(outcome, problem);
    if (!call.complaints.empty())
        Complain(outcome, call.complaints);
}

// Runs the export against its own scanner, namespace and working directory.
Outcome RunRow(Kind kind, const ExportRow& row) {
    Outcome outcome;
    support::RuntimeDir ns{"ferrolink-faults-ns"};
    faults_test::WorkingDir cwd;
    auto scanner = faults_test::StartScanner(row.attachment);
    if (scanner == nullptr) {
        Complain(outcome, "the scanner did not start");
        return outcome;
    }
    WriteStartFiles();

    Call call;
    call.record = faults_test::RecordFor(row.attachment);
    scanner->SetFault({kind, 0, 1});
    outcome.elapsedMs = faults_test::TimeOf([&] { outcome.result = row.call(call); }).count();
    outcome.firmwareUpdates = scanner->FirmwareUpdates();
    ComplainAboutLeftovers(outcome, cwd.Path(), call, {});

    scanner->SetFault({});
    if (!scanner->IsPlugged() && !scanner->Plug())
        Complain(outcome, "the scanner could not be plugged in again");
    // An export that stopped reading a long reply leaves the scanner still
    // sending it; the library is judged once the scanner is quiet again.
    outcome.drained = faults_test::DrainUntilQuiet(scanner->LinkPath());
    outcome.answersAgain = faults_test::AnswersAgain(row.attachment);
    return outcome;
}

class ExportsUnderFault : public ::testing::TestWithParam<Kind> {};

TEST_P(ExportsUnderFault, EachFailsWithinTheGuardsAndLeavesOnlyWholeFiles) {
    const Kind kind = GetParam();
    SCOPED_TRACE(std::string("under ") + FaultName(kind));
    const auto run = [kind](const ExportRow& row) { return RunRow(kind, row); };
    faults_test::RunRowsApart<Outcome>(
        Rows(), run, [kind](const ExportRow& row, const Outcome& outcome) {
            // The wall time of each export, kept in the test report.
            RecordProperty(std::string(row.name) + "_ms", std::to_string(outcome.elapsedMs));
            EXPECT_EQ(outcome.result, row.expected.For(kind));
            EXPECT_LE(std::chrono::milliseconds(outcome.elapsedMs),
                      row.exchanges * faults_test::kReplyGuard + faults_test::kSlack);
            EXPECT_EQ(outcome.firmwareUpdates, 0u) << "no firmware image may be taken";
            EXPECT_STREQ(outcome.complaints, "");
            EXPECT_TRUE(outcome.drained) << "the scanner kept sending";
            EXPECT_TRUE(outcome.answersAgain) << "a plain command fails afterwards";
        });
}

INSTANTIATE_TEST_SUITE_P(Faults, ExportsUnderFault,
                         ::testing::Values(Kind::kSilence, Kind::kGarbage, Kind::kTruncated,
                                           Kind::kHuge, Kind::kNak, Kind::kDisconnect),
                         [](const ::testing::TestParamInfo<Kind>& info) {
                             return std::string(FaultName(info.param));
                         });

// Bad arguments: a missing record, text, table or output, a count below 1, a
// command longer than a frame holds, a set file that is absent or no XML.
// Each export returns its failure value without crashing, and one that cannot
// act sends the scanner nothing: no empty or cut command, no link reset.
struct BadArgumentRow {
    const char* name;
    Attachment attachment;
    std::function<int(Call&)> call;
    int expected;
    unsigned scannerReceivesAtMost;
};

constexpr char kBrokenSet[] = "broken.set";  // not XML: a cut element
constexpr char kEmptySet[] = "empty.set";
// 300,000 nested elements: TinyXML's recursion would overflow the stack on it.
constexpr char kDeepSet[] = "deep.set";
constexpr int kDeepSetLevels = 300000;
constexpr char kAbsentFile[] = "absent.xml";

const std::vector<BadArgumentRow>& BadArgumentRows() {
    using A = Attachment;
    const unsigned com = faults_test::kComPort;
    static const std::string overlongCommand(1015, 'A');  // its frame needs 1025 bytes
    static const std::string overlongBytes(1024, 'A');
    static const std::vector<BadArgumentRow> rows = {
        {"SendCommandNullRecord", A::kUsb,
         [](Call& c) { return SendCommand(nullptr, "QRYESN", c.output.data()); }, 0, 0},
        {"SendCommandNullCommand", A::kUsb,
         [](Call& c) { return SendCommand(&c.record, nullptr, c.output.data()); }, 0, 0},
        {"SendCommandOverlongCommand", A::kUsb,
         [](Call& c) { return SendCommand(&c.record, overlongCommand.c_str(), c.output.data()); },
         0, 0},
        // The command still counts; there is only nowhere to copy the reply.
        {"SendCommandNullOutput", A::kUsb,
         [](Call& c) { return SendCommand(&c.record, "QRYESN", nullptr); }, 1, 1},
        {"SendCommandComNullCommand", A::kCom,
         [com](Call& c) { return SendCommandCom(com, nullptr, c.output.data()); }, 0, 0},
        {"SendCommandHEXNullRecord", A::kUsb,
         [](Call& c) { return SendCommandHEX(nullptr, "\x1bQ", c.output.data()); }, 0, 0},
        {"SendCommandHEXNullBytes", A::kUsb,
         [](Call& c) { return SendCommandHEX(&c.record, nullptr, c.output.data()); }, 0, 0},
        {"SendCommandHEXOverlongBytes", A::kUsb,
         [](Call& c) { return SendCommandHEX(&c.record, overlongBytes.c_str(), c.output.data()); },
         0, 0},
        {"SendSingleNullRecord", A::kUsb,
         [](Call& c) { return SendSingle(nullptr, c.output.data()); }, 0, 0},
        {"SendCmdClaveNullRecord", A::kUsb, [](Call&) { return SendCmdClave(nullptr, kEsn); }, 0,
         0},
        {"SendCmdClaveNullValue", A::kUsb, [](Call& c) { return SendCmdClave(&c.record, nullptr); },
         0, 0},
        {"OpenGreenILLNullRecord", A::kUsb, [](Call&) { return OpenGreenILL(nullptr); }, 0, 0},
        {"CompareVerNullRecord", A::kUsb,
         [](Call&) { return CompareVer(nullptr, Text(faults_test::kFirmwareFile)); }, 0, 0},
        {"CompareVerNullFile", A::kUsb, [](Call& c) { return CompareVer(&c.record, nullptr); }, 0,
         0},
        {"CompareVerAbsentFile", A::kUsb,
         [](Call& c) { return CompareVer(&c.record, kAbsentFile); }, 0, 0},
        {"GetProductNameAndSNNullOutputs", A::kUsb,
         [](Call&) { return GetProductNameAndSN(nullptr, nullptr); }, -1, 0},
        {"SaveOfficeNullRecord", A::kUsb, [](Call&) { return SaveOffice(nullptr); }, 0, 0},
        {"qv_SaveXmlNullRecord", A::kUsb,
         [](Call&) {
             qv_SaveXml(nullptr);
             return 1;
         },
         1, 0},
        {"qv_SavetoDeviceNullFile", A::kCom,
         [com](Call&) { return Bool(qv_SavetoDevice(nullptr, com, 115200)); }, 0, 0},
        {"qv_SavetoDeviceAbsentFile", A::kCom,
         [com](Call&) { return Bool(qv_SavetoDevice(Text(kAbsentFile), com, 115200)); }, 0, 0},
        {"qv_SavetoDeviceBrokenFile", A::kCom,
         [com](Call&) { return Bool(qv_SavetoDevice(Text(kBrokenSet), com, 115200)); }, 0, 0},
        {"qv_SavetoDeviceEmptyFile", A::kCom,
         [com](Call&) { return Bool(qv_SavetoDevice(Text(kEmptySet), com, 115200)); }, 0, 0},
        {"qv_SavetoDeviceDeeplyNestedFile", A::kCom,
         [com](Call&) { return Bool(qv_SavetoDevice(Text(kDeepSet), com, 115200)); }, 0, 0},
        {"qv_SavetoDeviceAN_UDeeplyNestedFile", A::kUsb,
         [](Call& c) { return Bool(qv_SavetoDeviceAN_U(Text(kDeepSet), &c.record)); }, 0, 1},
        // The buffer-size query goes out before the file is read; no setting does.
        {"qv_SavetoDeviceANNullFile", A::kUsb,
         [](Call& c) { return Bool(qv_SavetoDeviceAN(nullptr, &c.record)); }, 0, 1},
        {"qv_SavetoDeviceANBrokenFile", A::kUsb,
         [](Call& c) { return Bool(qv_SavetoDeviceAN(Text(kBrokenSet), &c.record)); }, 0, 1},
        {"qv_SavetoDeviceAN_UAbsentFile", A::kUsb,
         [](Call& c) { return Bool(qv_SavetoDeviceAN_U(Text(kAbsentFile), &c.record)); }, 0, 1},
        {"qv_SavetoDeviceANNullRecord", A::kUsb,
         [](Call&) { return Bool(qv_SavetoDeviceAN(Text(faults_test::kDownloadFile), nullptr)); },
         0, 0},
        {"qv_GetDeviceNullTable", A::kUsb, [](Call&) { return qv_GetDevice(nullptr, 4); }, 0, 0},
        {"qv_GetDeviceNegativeCount", A::kUsb,
         [](Call&) {
             _QVDeviceInfo devices[2];
             std::memset(static_cast<void*>(devices), 0, sizeof(devices));
             return qv_GetDevice(devices, -3);
         },
         0, 0},
        {"qv_UpdateKernelDeviceNullFile", A::kUsb,
         [](Call& c) { return Bool(qv_UpdateKernelDevice(nullptr, &c.record)); }, 0, 0},
        {"qv_UpdateKernelDeviceNullRecord", A::kUsb,
         [](Call&) {
             return Bool(qv_UpdateKernelDevice(Text(faults_test::kFirmwareFile), nullptr));
         },
         0, 0},
        {"qv_UpdateKernelDevicePortAbsentFileNullError", A::kCom,
         [com](Call&) {
             return Bool(qv_UpdateKernelDevicePort(Text(kAbsentFile), com, 115200, 0, nullptr));
         },
         0, 0},
        {"SetDevicePDNNullRecord", A::kUsb, [](Call&) { return SetDevicePDN(nullptr, "Name"); }, 0,
         0},
        {"SetDevicePDNNullName", A::kUsb, [](Call& c) { return SetDevicePDN(&c.record, nullptr); },
         0, 0},
        {"SetDeviceSNNullSerial", A::kUsb, [](Call& c) { return SetDeviceSN(&c.record, nullptr); },
         0, 0},
        {"SetDeviceBSNNullRecord", A::kUsb, [](Call&) { return SetDeviceBSN(nullptr); }, 0, 0},
        {"setDeviceInfoNullPart", A::kUsb,
         [](Call&) { return setDeviceInfo("1234567890", nullptr, "1"); }, 0, 0},
        {"changeDevModeNullMode", A::kUsb, [](Call&) { return changeDevMode(nullptr); }, 0, 0},
        {"qv_GetPicNullRecord", A::kUsb,
         [](Call&) { return qv_GetPic(nullptr) != nullptr ? 1 : 0; }, 0, 0},
        // Registration reports 1 even when nothing could be registered.
        {"ktr_register_notify_allNullRecord", A::kUsb,
         [](Call&) { return ktr_register_notify_all(nullptr, nullptr, nullptr, nullptr); }, 1, 0},
        {"ktr_unregister_notifyNullRecord", A::kUsb,
         [](Call&) { return ktr_unregister_notify(nullptr, 1, 1); }, 0, 0},
        {"ktr_register_GetDevNullTable", A::kUsb,
         [](Call&) { return ktr_register_GetDev(nullptr, nullptr, nullptr, nullptr); }, 0, 0},
        {"GetDevBufNullRecord", A::kUsb,
         [](Call& c) {
             int length = -1;
             const bool read =
                 GetDevBuf(nullptr, reinterpret_cast<unsigned char*>(c.output.data()), &length);
             c.Check(length == -1, "the length was written without a record");
             return Bool(read);
         },
         0, 0},
        {"GetDevBufNullOutputs", A::kUsb,
         [](Call& c) { return Bool(GetDevBuf(&c.record, nullptr, nullptr)); }, 0, 0},
    };
    return rows;
}

Outcome RunBadArgumentRow(const BadArgumentRow& row) {
    Outcome outcome;
    support::RuntimeDir ns{"ferrolink-faults-ns"};
    faults_test::WorkingDir cwd;
    auto scanner = faults_test::StartScanner(row.attachment);
    if (scanner == nullptr) {
        Complain(outcome, "the scanner did not start");
        return outcome;
    }
    WriteStartFiles();
    std::FILE* broken = std::fopen(kBrokenSet, "w");
    if (broken != nullptr) {
        std::fputs("<Tarnwell><Command CommandName=\"ALLENA\" Value=\"1\"", broken);
        std::fclose(broken);
    }
    std::FILE* empty = std::fopen(kEmptySet, "w");
    if (empty != nullptr)
        std::fclose(empty);
    std::FILE* deep = std::fopen(kDeepSet, "w");
    if (deep != nullptr) {
        std::fputs("<Tarnwell><Command CommandName=\"ALLENA\" Value=\"1\"/>", deep);
        for (int i = 0; i < kDeepSetLevels; ++i)
            std::fputs("<Command>", deep);
        std::fclose(deep);
    }

    Call call;
    call.record = faults_test::RecordFor(row.attachment);
    outcome.result = row.call(call);
    outcome.scannerReceived = static_cast<unsigned>(scanner->Log().size());
    outcome.firmwareUpdates = scanner->FirmwareUpdates();
    ComplainAboutLeftovers(outcome, cwd.Path(), call, {kBrokenSet, kEmptySet, kDeepSet});
    outcome.answersAgain = faults_test::AnswersAgain(row.attachment);
    return outcome;
}

TEST(ExportsWithBadArguments, EachRefusesWithItsFailureValueAndSendsNothingItCannotUse) {
    faults_test::RunRowsApart<Outcome>(
        BadArgumentRows(), RunBadArgumentRow,
        [](const BadArgumentRow& row, const Outcome& outcome) {
            EXPECT_EQ(outcome.result, row.expected);
            EXPECT_LE(outcome.scannerReceived, row.scannerReceivesAtMost);
            EXPECT_EQ(outcome.firmwareUpdates, 0u);
            EXPECT_STREQ(outcome.complaints, "");
            EXPECT_TRUE(outcome.answersAgain) << "a plain command fails afterwards";
        });
}

}  // namespace
