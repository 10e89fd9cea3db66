#include "about_dialog.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "dialog_units.h"
#include "string_table.h"

namespace quillon {

CAboutDlg::CAboutDlg(AppSettings& settings, QWidget* parent)
    : QDialog(parent), m_settings(settings) {
    setWindowTitle(QStringLiteral("Quillon"));
    const QFontMetrics metrics(font());

    m_comboBox = new QComboBox(this);
    m_comboBox->setObjectName(QStringLiteral("combo_1013"));
    m_comboBox->setEditable(true);
    m_comboBox->setInsertPolicy(QComboBox::NoInsert);
    // Wide enough for the longest name, in the field and in the list.
    m_comboBox->setSizeAdjustPolicy(QComboBox::AdjustToContents);

    auto* label = new QLabel(LoadText(IDS_CODE_PAGE_LABEL), this);
    label->setObjectName(QStringLiteral("label_1014"));
    label->setBuddy(m_comboBox);

    // OK and Cancel as the platform orders them, in the language of Qt's
    // own texts.
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setObjectName(QStringLiteral("button_1"));
    ok->setDefault(true);
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("button_2"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CAboutDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CAboutDlg::reject);

    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    form->addRow(label, m_comboBox);
    auto* layout = new QVBoxLayout(this);
    const QRect margin = DialogUnitsToPixels(metrics, 0, 0, 7, 7);
    layout->setContentsMargins(margin.width(), margin.height(), margin.width(), margin.height());
    layout->addLayout(form);
    layout->addStretch(1);
    layout->addWidget(buttons);

    OnInitDialog();
    // The list is as wide as its longest entry, never cut.
    QAbstractItemView* view = m_comboBox->view();
    view->setMinimumWidth(view->sizeHintForColumn(0) + 2 * view->frameWidth() +
                          view->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    // The first size of the original dialog where the texts fit in it.
    resize(sizeHint().expandedTo(DialogUnitsToPixels(metrics, 0, 0, 287, 148).size()));
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
