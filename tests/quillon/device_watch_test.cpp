// Device watch on a real X server: losing the scanner, the prompt of the
// watch timer, reconnecting, and which device events count.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "../quillon_delivery/recording_server.h"
#include "device_paths.h"
#include "main_dialog.h"
#include "main_window.h"
#include "platform/runtime_namespace.h"
#include "scansim/scanner.h"
#include "settings.h"
#include "string_table.h"
#include "support/qt_x_environment.h"
#include "window_wiring.h"

namespace fs = std::filesystem;
using namespace quillon;

namespace {

void WriteFile(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

class DeviceWatch : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_server.Started());
        m_ktr = fs::path(m_dir.Path()) / "ktr";
        setenv("KTR_RUNTIME_DIR", m_ktr.c_str(), 1);
        m_settings.languageId = kLanguageEnglish;
        m_settings.WorkMode = "1";
        m_settings.url = QString::fromStdString(m_server.Url("/reply?text=succes"));
        SetUiLanguage(kLanguageEnglish);
    }
    void TearDown() override {
        m_dialog.reset();
        m_window.reset();
        m_scanner.reset();
    }

    void StartScanner(scansim::Attachment attachment) {
        scansim::ScannerOptions options;
        options.attachment = attachment;
        options.comPort = 7;
        std::string error;
        m_scanner = scansim::Scanner::Start(options, &error);
        ASSERT_NE(m_scanner, nullptr) << error;
    }

    void OpenWindow() {
        m_window = std::make_unique<MainWindow>();
        m_dialog = std::make_unique<CAutoTabAppDlg>(
            m_settings, m_ktr / "ktr.ini", fs::path(std::getenv("SUITE_BIN_DIR")) / "quillon",
            *m_window);
        ConnectMainWindow(*m_window, *m_dialog, m_settings);
        m_dialog->OnInitDialog();
        m_window->show();
        ASSERT_TRUE(m_dialog->IsConnected());
    }

    QString StatusText() { return m_window->findChild<QLabel*>("status_1000")->text(); }

    // A scan reaches the web server: the scanner is registered and data flows.
    bool ScanArrives(const std::string& text) {
        const size_t before = m_server.Requests().size();
        m_scanner->SendScan(text);
        return WaitUntil([&] {
            auto requests = m_server.Requests();
            return requests.size() > before && requests.back().body == text + std::string(1, '\0');
        });
    }

    delivery_test::TempDir m_dir;
    delivery_test::RecordingServer m_server{m_dir.Path()};
    fs::path m_ktr;
    AppSettings m_settings;
    std::unique_ptr<scansim::Scanner> m_scanner;
    std::unique_ptr<MainWindow> m_window;
    std::unique_ptr<CAutoTabAppDlg> m_dialog;
};

TEST_F(DeviceWatch, LossPromptAndReconnection) {
    StartScanner(scansim::Attachment::kUsb);
    OpenWindow();
    ASSERT_TRUE(ScanArrives("BEFORE"));

    // The prompt of the watch timer: OK while the scanner is away asks again;
    // the scanner comes back and OK reconnects.
    int prompts = 0;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) {
            return;
        }
        if (++prompts == 2) {
            m_scanner->Plug();
        }
        box->button(QMessageBox::Ok)->click();
    });
    answer.start(50);

    ASSERT_TRUE(m_scanner->Unplug());
    ASSERT_TRUE(WaitUntil([&] { return StatusText() == "Device not connected"; }));
    EXPECT_FALSE(m_dialog->IsConnected());
    ASSERT_TRUE(WaitUntil([&] { return m_dialog->IsConnected(); }));
    EXPECT_EQ(prompts, 2);
    EXPECT_TRUE(m_dialog->IsWatchTimerActive());
    EXPECT_TRUE(StatusText().startsWith("Device is Connected"));
    EXPECT_TRUE(ScanArrives("AFTER"));
}

TEST_F(DeviceWatch, TheInsertPromptClosesItselfWhenTheScannerReturns) {
    StartScanner(scansim::Attachment::kUsb);
    OpenWindow();
    // The prompt runs its own event loop: this timer watches it from inside.
    // Nobody presses a button unless the prompt stays up far too long.
    int prompts = 0;
    QMessageBox* shown = nullptr;
    std::chrono::steady_clock::time_point pluggedAt;
    bool gaveUp = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) {
            return;
        }
        if (box != shown) {
            shown = box;
            ++prompts;
            pluggedAt = std::chrono::steady_clock::now();
            m_scanner->Plug();
        } else if (std::chrono::steady_clock::now() - pluggedAt > std::chrono::seconds(15)) {
            gaveUp = true;
            box->button(QMessageBox::Cancel)->click();
        }
    });
    watch.start(20);

    ASSERT_TRUE(m_scanner->Unplug());
    ASSERT_TRUE(WaitUntil([&] { return prompts == 1 && m_dialog->IsConnected(); }, 30));
    EXPECT_FALSE(gaveUp) << "the prompt stayed up after the scanner came back";
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(prompts, 1);
    EXPECT_TRUE(StatusText().startsWith("Device is Connected"));
    EXPECT_TRUE(ScanArrives("BACK"));
}

TEST_F(DeviceWatch, UsbScannerLearnsItsLossFromTheLibraryOnly) {
    StartScanner(scansim::Attachment::kUsb);
    OpenWindow();
    const QString ownPath = m_dialog->DevicePath(0);
    EXPECT_TRUE(ownPath.startsWith("\\\\?\\usb#vid_1eab&pid_0d10#sim0001"))
        << ownPath.toStdString();
    // Events never match a record without a serial port, not even its own removal.
    EXPECT_EQ(m_dialog->OnDeviceChange(kDeviceRemoveComplete, kDeviceTypeInterface, ownPath), 0);
    EXPECT_TRUE(m_dialog->IsConnected());
    // An unrelated device coming and going changes nothing either.
    ASSERT_TRUE(platform::AddEntry("usb", "usb#vid_9999&pid_0001#other", "/dev/null"));
    ASSERT_TRUE(platform::RemoveEntry("usb", "usb#vid_9999&pid_0001#other"));
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    QApplication::processEvents();
    EXPECT_TRUE(m_dialog->IsConnected());
    ASSERT_TRUE(ScanArrives("STILL-HERE"));
    // The status callback reports the loss.
    m_window->HideWindow();
    ASSERT_TRUE(m_scanner->Unplug());
    EXPECT_TRUE(WaitUntil([&] { return !m_dialog->IsConnected(); }));
    EXPECT_EQ(m_window->TrayIcon().toolTip(), "Quillon \u2014 not connected");
    m_window->ShowNormal();
    // Plugged in again before the watch timer's next look: an answer to the
    // prompt is not needed, the timer finds it.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            box->button(QMessageBox::Ok)->click();
        }
    });
    answer.start(50);
    m_scanner->Plug();
    EXPECT_TRUE(WaitUntil([&] { return m_dialog->IsConnected(); }));
}

TEST_F(DeviceWatch, ComScannerBehindAVirtualPortFollowsItsUsbDevice) {
    // A COM scanner whose port the virtual bus made for a USB device.
    WriteFile(m_ktr / "vbus/Ktr_vcom/0003/PortName", "COM7");
    WriteFile(m_ktr / "vbus/Ktr_vcom/0003/HardwareDevinstpath", "USB\\VID_1EAB&PID_0D10\\HW42");
    WriteFile(m_ktr / "vbus/Ktr_vcom/0002/PortName", "COM5");
    StartScanner(scansim::Attachment::kCom);
    OpenWindow();
    EXPECT_EQ(m_dialog->DevicePath(0), "usb#vid_1eab&pid_0d10#hw42");

    // Another USB device's removal changes nothing; the port's own device's does.
    ASSERT_TRUE(platform::AddEntry("usb", "usb#vid_1eab&pid_0d10#hw4", "/dev/null"));
    ASSERT_TRUE(platform::AddEntry("usb", "usb#vid_1eab&pid_0d10#hw42", "/dev/null"));
    ASSERT_TRUE(platform::RemoveEntry("usb", "usb#vid_1eab&pid_0d10#hw4"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    QApplication::processEvents();
    EXPECT_TRUE(m_dialog->IsConnected());
    ASSERT_TRUE(platform::RemoveEntry("usb", "usb#vid_1eab&pid_0d10#hw42"));
    EXPECT_TRUE(WaitUntil([&] { return StatusText() == "Device not connected"; }));
    EXPECT_FALSE(m_dialog->IsConnected());
    // Its arrival before the watch timer looks again counts as connected.
    ASSERT_TRUE(platform::AddEntry("usb", "usb#vid_1eab&pid_0d10#hw42", "/dev/null"));
    EXPECT_TRUE(WaitUntil([&] { return m_dialog->IsConnected(); }, 2));
}

TEST(PortDevicePaths, FriendlyNamesAndBusValues) {
    struct Case {
        const char* name;
        int port;
    };
    const Case cases[] = {
        {"KTR Virtual Serial Port (COM12)", 12},
        {"Port (COM3) x", 3},
        {"Port) (COM3)", 0},
        {"Port (COM3", -1},
        {"Port COM3)", -1},
        {"(COMx)", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PortFromFriendlyName(c.name), c.port) << c.name;
    }

    delivery_test::TempDir dir;
    const fs::path ktr = fs::path(dir.Path());
    setenv("KTR_RUNTIME_DIR", ktr.c_str(), 1);
    WriteFile(ktr / "vbus/Ktr_vcom/0001/PortName", "COM9\n");
    WriteFile(ktr / "vbus/Ktr_vcom/0001/HardwareDevinstpath", "USB\\VID_AAAA&PID_BBBB\\S1");
    WriteFile(ktr / "vbus/Ktr_vcom/0004/PortName", "COM4");
    WriteFile(ktr / "vbus/Ktr_vcom/0005/PortName", "LPT1");
    std::string hardware = "unchanged";
    EXPECT_EQ(ReadVirtualPortEntry("0001", &hardware), 9);
    EXPECT_EQ(hardware, "USB\\VID_AAAA&PID_BBBB\\S1");
    hardware = "unchanged";
    EXPECT_EQ(ReadVirtualPortEntry("0004", &hardware), 4);
    EXPECT_EQ(hardware, "unchanged");
    EXPECT_EQ(ReadVirtualPortEntry("0005", nullptr), -1);
    EXPECT_EQ(ReadVirtualPortEntry("0009", nullptr), -1);
    EXPECT_EQ(ReadVirtualPortEntry("../0001", nullptr), -1);

    QString path = "kept";
    EXPECT_TRUE(FindPortDevicePath(9, path));
    EXPECT_EQ(path, "usb#vid_aaaa&pid_bbbb#s1");
    // A bus port without hardware gives its own identifier.
    EXPECT_TRUE(FindPortDevicePath(4, path));
    EXPECT_EQ(path, "ktr_vbus#ktr_vcom#0004");
    path = "kept";
    EXPECT_FALSE(FindPortDevicePath(3, path));
    EXPECT_EQ(path, "kept");
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::AddGlobalTestEnvironment(new QtXEnvironment);
    return RUN_ALL_TESTS();
}
