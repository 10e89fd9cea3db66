#include "support/qt_x_environment.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {
XSession* g_session = nullptr;
}

void QtXEnvironment::SetUp() {
    m_session = std::make_unique<XSession>();
    ASSERT_TRUE(m_session->Start(true)) << m_session->Error();
    g_session = m_session.get();
    setenv("DISPLAY", m_session->DisplayName().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    // The tray icon goes to the X tray host, not to a desktop bus service.
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    unsetenv("WAYLAND_DISPLAY");
    static int argc = 1;
    static char name[] = "quillon_tests";
    static char* argv[] = {name, nullptr};
    m_app = std::make_unique<QApplication>(argc, argv);
}

void QtXEnvironment::TearDown() {
    m_app.reset();
    g_session = nullptr;
    m_session.reset();
}

XSession* QtXEnvironment::Session() {
    return g_session;
}
