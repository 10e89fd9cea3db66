// Every export against a scanner that misbehaves on every reply: the export
// returns its failure value (or the value its contract gives for that reply),
// within the reply guards, leaves only whole files behind, and the library
// works again once the scanner behaves.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "fault_bench.h"
#include "ferrolink/commands.h"
#include "ferrolink/config.h"
#include "ferrolink/discovery.h"
#include "ferrolink/firmware.h"
#include "ferrolink/identity.h"
#include "ferrolink/image.h"

namespace {

using faults_test::fs::path;
using scansim::Attachment;
using Kind = scansim::Fault::Kind;

constexpr size_t kOutputBytes = size_t{4} << 20;  // room for a 1 MiB reply, many times over
constexpr char kEsn[] = "1234567890:0001:1";

struct Call {
    _QVDeviceInfo record;
    std::vector<char> output = std::vector<char>(kOutputBytes, '\0');
    std::string Output() const {
        return std::string(output.data(), strnlen(output.data(), kOutputBytes));
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

char* Text(const char* name) {
    static std::string held;
    held = name;
    return held.data();
}

const std::vector<ExportRow>& Rows() {
    static const std::vector<ExportRow> rows = {
        {"SendCommand",
         Attachment::kUsb,
         1,
         [](Call& c) { return SendCommand(&c.record, "QRYESN", c.output.data()); },
         {0, 0, 0, 1, 0, 0}},
        {"SendCommandCom",
         Attachment::kCom,
         1,
         [](Call& c) { return SendCommandCom(faults_test::kComPort, "QRYESN", c.output.data()); },
         {0, 0, 0, 1, 0, 0}},
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
         {0, 1, 1, 1, 1, 1}},
        {"SendSingle",
         Attachment::kUsb,
         1,
         [](Call& c) { return SendSingle(&c.record, c.output.data()); },
         {0, 1, 1, 1, 1, 1}},
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
        // The replies are not examined: sending is all that counts.
        {"SetDevicePDN",
         Attachment::kUsb,
         4,
         [](Call& c) { return SetDevicePDN(&c.record, "Renamed"); },
         {1, 1, 1, 1, 1, 1}},
        {"SetDeviceSN",
         Attachment::kUsb,
         4,
         [](Call& c) { return SetDeviceSN(&c.record, "SN42"); },
         {1, 1, 1, 1, 1, 1}},
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
         [](Call&) {
             _QVDeviceInfo devices[4];
             std::memset(static_cast<void*>(devices), 0, sizeof(devices));
             const int found = qv_GetDevice(devices, 4);
             EXPECT_TRUE(
                 EmptyOr(devices[0].szSerialNumber, sizeof devices[0].szSerialNumber, "SIM0001"));
             EXPECT_TRUE(EmptyOr(devices[0].szProductName, sizeof devices[0].szProductName,
                                 "KTR Sim Scanner"));
             return found;
         },
         {1, 1, 1, 1, 1, 1}},
        {"GetProductNameAndSN",
         Attachment::kUsb,
         1,
         [](Call&) {
             char product[512] = {};
             char serial[512] = {};
             const int result = GetProductNameAndSN(product, serial);
             EXPECT_TRUE(EmptyOr(product, sizeof product, "KTR Sim Scanner"));
             EXPECT_TRUE(EmptyOr(serial, sizeof serial, "SIM0001"));
             return result;
         },
         {0, 0, 0, 0, 0, 0}},
        {"GetSN",
         Attachment::kUsb,
         1,
         [](Call&) {
             const char* serial = GetSN();
             EXPECT_NE(serial, nullptr);
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
        {"qv_SavetoDeviceAN",
         Attachment::kUsb,
         4,
         [](Call& c) {
             return Bool(qv_SavetoDeviceAN(Text(faults_test::kDownloadFile), &c.record));
         },
         {0, 0, 0, 0, 0, 0}},
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
         [](Call&) {
             int error = 0;
             const bool ok = qv_UpdateKernelDevicePort(Text(faults_test::kFirmwareFile),
                                                       faults_test::kComPort, 115200, 0, &error);
             EXPECT_TRUE(ok || error != 0) << "a failed transfer tells its error code";
             return Bool(ok);
         },
         {0, 0, 0, 0, 0, 0}},
        {"qv_GetPic",
         Attachment::kUsb,
         4,
         [](Call& c) { return qv_GetPic(&c.record) != nullptr ? 1 : 0; },
         {0, 1, 1, 1, 1, 1}},
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

class ExportUnderFault : public ::testing::TestWithParam<std::tuple<Kind, size_t>> {
  protected:
    faults_test::WorkingDir cwd;
    ops_test::TempNamespace ns;
};

TEST_P(ExportUnderFault, FailsWithinTheGuardsAndLeavesOnlyWholeFiles) {
    const auto [kind, index] = GetParam();
    const ExportRow& row = Rows()[index];
    auto scanner = faults_test::StartScanner(row.attachment);
    ASSERT_NE(scanner, nullptr);
    faults_test::WritePreviousDocument(faults_test::kOfficeFile);
    faults_test::WritePreviousDocument(faults_test::kConfigSetFile);
    faults_test::WriteDownloadSet(faults_test::kDownloadFile, 12);
    ops_test::WriteFirmwareFile(faults_test::kFirmwareFile, 2, "V2.0.0", 5000);

    Call call{faults_test::RecordFor(row.attachment)};
    scanner->SetFault({kind, 0, 1});
    int result = -99;
    const auto elapsed = faults_test::TimeOf([&] { result = row.call(call); });

    EXPECT_EQ(result, row.expected.For(kind)) << row.name << " under " << FaultName(kind);
    EXPECT_LE(elapsed, row.exchanges * faults_test::kReplyGuard + faults_test::kSlack)
        << row.name << " took " << elapsed.count() << " ms";
    EXPECT_EQ(scanner->FirmwareUpdates(), 0u) << "no firmware image may be taken";
    EXPECT_EQ(faults_test::FileProblems(cwd.Path(),
                                        {faults_test::kOfficeFile, faults_test::kConfigSetFile,
                                         faults_test::kDownloadFile, faults_test::kFirmwareFile}),
              std::vector<std::string>{});

    scanner->SetFault({});
    if (!scanner->IsPlugged()) {
        ASSERT_TRUE(scanner->Plug());
    }
    // An export that stopped reading a long reply leaves the scanner still
    // sending it; the library is judged once the scanner is quiet again.
    EXPECT_TRUE(faults_test::DrainUntilQuiet(scanner->LinkPath()));
    EXPECT_TRUE(faults_test::AnswersAgain(row.attachment)) << "after " << row.name;
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<Kind, size_t>>& info) {
    return std::string(FaultName(std::get<0>(info.param))) + "_" +
           Rows()[std::get<1>(info.param)].name;
}

INSTANTIATE_TEST_SUITE_P(Faults, ExportUnderFault,
                         ::testing::Combine(::testing::Values(Kind::kSilence, Kind::kGarbage,
                                                              Kind::kTruncated, Kind::kHuge,
                                                              Kind::kNak, Kind::kDisconnect),
                                            ::testing::Range(size_t{0}, Rows().size())),
                         CaseName);

}  // namespace
