#include "clipboard_keeper.h"

#include <QClipboard>
#include <QMimeData>
#include <algorithm>

namespace quillon {

// The paste text on the clipboard; tells the keeper whenever another
// application asks for it.
class ClipboardKeeper::PasteData : public QMimeData {
  public:
    explicit PasteData(ClipboardKeeper& keeper) : m_keeper(&keeper) {}

  protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override {
        if (m_keeper) {
            // The request is answered first; the keeper only restarts a timer.
            QMetaObject::invokeMethod(m_keeper.data(), &ClipboardKeeper::PasteAsked,
                                      Qt::QueuedConnection);
        }
        return QMimeData::retrieveData(mimeType, type);
    }

  private:
    QPointer<ClipboardKeeper> m_keeper;
};

ClipboardKeeper::ClipboardKeeper(QClipboard& clipboard, QObject* parent)
    : QObject(parent), m_clipboard(clipboard) {
    m_giveBack.setSingleShot(true);
    connect(&m_giveBack, &QTimer::timeout, this, &ClipboardKeeper::GiveBack);
}

ClipboardKeeper::~ClipboardKeeper() = default;

bool ClipboardKeeper::HoldsPaste() const {
    return m_paste != nullptr && m_clipboard.ownsClipboard() &&
           m_clipboard.mimeData(QClipboard::Clipboard) == m_paste.data();
}

void ClipboardKeeper::SetPasteText(const QString& text) {
    m_giveBack.stop();
    if (!m_keeping || !HoldsPaste()) {
        // Nothing kept yet, or the user copied since the last paste: what
        // the clipboard holds now is the user's.
        m_kept.reset();
        const QMimeData* current = m_clipboard.mimeData(QClipboard::Clipboard);
        if (current != nullptr && !current->formats().isEmpty()) {
            m_kept = std::make_unique<QMimeData>();
            for (const QString& format : current->formats()) {
                // Native names without a MIME form (TARGETS, TIMESTAMP, ...)
                // belong to the protocol, not to the contents.
                if (format.contains(QLatin1Char('/'))) {
                    m_kept->setData(format, current->data(format));
                }
            }
        }
        m_keeping = true;
    }
    auto* paste = new PasteData(*this);
    paste->setText(text);
    m_paste = paste;
    m_sent = false;
    m_asked = false;
    m_clipboard.setMimeData(paste, QClipboard::Clipboard);
}

void ClipboardKeeper::PasteSent() {
    m_sent = true;
    m_sinceKeys.start();
    m_giveBack.start(m_asked ? std::max(kSettleMs, kEarliestMs) : kLatestMs);
}

void ClipboardKeeper::PasteAsked() {
    m_asked = true;
    if (!m_sent) {
        return;
    }
    const int earliest = kEarliestMs - static_cast<int>(m_sinceKeys.elapsed());
    m_giveBack.start(std::max(kSettleMs, earliest));
}

void ClipboardKeeper::GiveBackNow() {
    m_giveBack.stop();
    GiveBack();
}

void ClipboardKeeper::GiveBack() {
    if (!m_keeping) {
        return;
    }
    m_keeping = false;
    m_sent = false;
    const bool ours = HoldsPaste();
    std::unique_ptr<QMimeData> kept = std::move(m_kept);
    m_paste.clear();
    if (!ours) {
        emit Done(false);
        return;
    }
    if (kept) {
        m_clipboard.setMimeData(kept.release(), QClipboard::Clipboard);
    } else {
        m_clipboard.clear(QClipboard::Clipboard);
    }
    emit Done(true);
}

}  // namespace quillon
