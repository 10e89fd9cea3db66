// The user's clipboard around a paste at the cursor.
//
// A paste needs the scan text on the clipboard for a moment. Before it goes
// there, everything the clipboard holds (every format) is copied; once the
// paste has been taken the copy goes back:
// - kSettleMs after the last time an application asked for the paste text
//   (the target of Ctrl+V; a clipboard manager may ask as well), but not
//   before kEarliestMs after the keys were sent;
// - kLatestMs after the keys at the latest, when nobody asked.
// When the keys could not be sent it goes back at once. A copy the user made
// in between (the clipboard is no longer the paste text) is left alone and
// the kept contents are dropped. Scans pasted in quick succession keep the
// user's contents from before the first of them.
//
// On X11 the program then serves the given-back contents itself, as the
// original owner did; they stay available while the program runs.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <memory>

class QClipboard;
class QMimeData;

namespace quillon {

class ClipboardKeeper : public QObject {
    Q_OBJECT
  public:
    static constexpr int kSettleMs = 300;
    static constexpr int kEarliestMs = 1000;
    static constexpr int kLatestMs = 5000;

    explicit ClipboardKeeper(QClipboard& clipboard, QObject* parent = nullptr);
    ~ClipboardKeeper() override;

    // Keeps the clipboard's contents (unless contents kept for an earlier
    // paste still wait to go back) and puts `text` on it.
    void SetPasteText(const QString& text);
    // The paste keys went out: the kept contents go back once it was taken.
    void PasteSent();
    // The paste keys could not be sent: the kept contents go back now.
    void GiveBackNow();

    // Kept contents are waiting to go back.
    bool Keeping() const { return m_keeping; }

  signals:
    // The kept contents went back (true) or were dropped because the user
    // copied something else in between (false).
    void Done(bool givenBack);

  private:
    class PasteData;
    void PasteAsked();
    void GiveBack();
    bool HoldsPaste() const;

    QClipboard& m_clipboard;
    // What the clipboard held before the first paste; null when empty.
    std::unique_ptr<QMimeData> m_kept;
    bool m_keeping = false;
    bool m_sent = false;
    bool m_asked = false;
    // The paste text as the clipboard holds it (the clipboard owns it).
    QPointer<QMimeData> m_paste;
    QElapsedTimer m_sinceKeys;
    QTimer m_giveBack;
};

}  // namespace quillon
