// SIGINT, SIGTERM and SIGHUP end the program the orderly way (so the
// settings are written), through the event loop.
#pragma once

#include <QObject>

namespace quillon {

class QuitSignals : public QObject {
    Q_OBJECT
  public:
    explicit QuitSignals(QObject* parent = nullptr);
    ~QuitSignals() override;
    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;

  signals:
    void QuitRequested();
};

}  // namespace quillon
