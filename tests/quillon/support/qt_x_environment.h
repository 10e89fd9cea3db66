// In-process GUI tests: a QApplication on a private X server with a tray
// host, made once per test program, and a wait that keeps Qt's events going.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <functional>
#include <memory>

#include "support/qt_wait.h"
#include "support/x_session.h"

class QtXEnvironment : public testing::Environment {
  public:
    void SetUp() override;
    void TearDown() override;
    // The running session; null before SetUp.
    static XSession* Session();

  private:
    std::unique_ptr<XSession> m_session;
    std::unique_ptr<QApplication> m_app;
};
