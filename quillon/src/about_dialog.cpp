#include "about_dialog.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "dialog_units.h"

namespace quillon {

CAboutDlg::CAboutDlg(AppSettings& settings, QWidget* parent)
    : QDialog(parent), m_settings(settings) {
    setWindowTitle(QStringLiteral("Quillon"));
    const QFontMetrics metrics(font());
    resize(DialogUnitsToPixels(metrics, 0, 0, 287, 148).size());

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("button_1"));
    ok->setDefault(true);
    ok->setGeometry(DialogUnitsToPixels(metrics, 230, 126, 50, 14));
    connect(ok, &QPushButton::clicked, this, &CAboutDlg::accept);

    m_comboBox = new QComboBox(this);
    m_comboBox->setObjectName(QStringLiteral("combo_1013"));
    m_comboBox->setEditable(true);
    m_comboBox->setInsertPolicy(QComboBox::NoInsert);
    m_comboBox->setGeometry(DialogUnitsToPixels(metrics, 67, 16, 107, 14));

    auto* label = new QLabel(QStringLiteral("CodePage"), this);
    label->setObjectName(QStringLiteral("label_1014"));
    label->setGeometry(DialogUnitsToPixels(metrics, 26, 18, 37, 14));

    OnInitDialog();
}

void CAboutDlg::OnInitDialog() {
    for (const CodePageRow& row : kCodePageList) {
        const QString name = QString::fromUtf8(row.name);
        m_comboBox->addItem(name);
        m_codePages.emplace(name, row.codePage);
    }
    m_comboBox->setCurrentIndex(0);
    const QString current = FindCodePageName(m_codePages, m_settings.CodePage);
    if (!current.isEmpty()) {
        m_comboBox->setEditText(current);
    }
}

void CAboutDlg::accept() {
    m_settings.CodePage = CodePageFromText(m_codePages, m_comboBox->currentText());
    QDialog::accept();
}

}  // namespace quillon
