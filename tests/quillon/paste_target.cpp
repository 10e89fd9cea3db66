// A target window for paste tests: one focused text field that reports on
// standard output every paste it gets ("PASTE <text>", units outside
// printable ASCII as \uXXXX) and every Return key ("RETURN").
//
// With "--copy TEXT" it is also the user's application that copied TEXT
// before the scans: it owns the clipboard with TEXT at start ("COPIED") and
// reports every later change of the clipboard's text ("CLIPBOARD <text>").
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTimer>
#include <cstdio>

namespace {

QByteArray Escaped(const QString& text) {
    QByteArray out;
    for (QChar unit : text) {
        const ushort code = unit.unicode();
        if (code >= 0x20 && code < 0x7F && code != '\\') {
            out.append(static_cast<char>(code));
        } else {
            out.append("\\u");
            out.append(QByteArray::number(code, 16).rightJustified(4, '0').toUpper());
        }
    }
    return out;
}

class TargetField : public QPlainTextEdit {
  protected:
    void insertFromMimeData(const QMimeData* source) override {
        std::printf("PASTE %s\n", Escaped(source->text()).constData());
        std::fflush(stdout);
        QPlainTextEdit::insertFromMimeData(source);
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Return) {
            std::printf("RETURN\n");
            std::fflush(stdout);
        }
        QPlainTextEdit::keyPressEvent(event);
    }
    void focusInEvent(QFocusEvent* event) override {
        std::printf("FOCUSED\n");
        std::fflush(stdout);
        QPlainTextEdit::focusInEvent(event);
    }
};

void Report(const char* what, const QString& text) {
    std::printf("%s %s\n", what, Escaped(text).constData());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    const qsizetype copy = arguments.indexOf(QStringLiteral("--copy"));
    if (copy > 0 && copy + 1 < arguments.size()) {
        QClipboard* clipboard = QApplication::clipboard();
        clipboard->setText(arguments[copy + 1]);
        Report("COPIED", arguments[copy + 1]);
        QObject::connect(clipboard, &QClipboard::dataChanged,
                         [clipboard] { Report("CLIPBOARD", clipboard->text()); });
    }
    TargetField field;
    field.setWindowTitle(QStringLiteral("paste target"));
    field.setGeometry(100, 200, 400, 200);
    field.show();
    field.activateWindow();
    field.setFocus();
    return QApplication::exec();
}
