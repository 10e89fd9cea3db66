// The code page dialog: an editable combo box of the code pages; OK takes the
// shown or typed name as the code page of the settings.
#pragma once

#include <QDialog>

#include "code_pages.h"
#include "settings.h"

class QComboBox;

namespace quillon {

class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(AppSettings& settings, QWidget* parent = nullptr);

    QComboBox& ComboBox() { return *m_comboBox; }

  public slots:
    // The OK handler: an unknown text is entered with 0 and sets 0.
    void accept() override;

  private:
    void OnInitDialog();

    AppSettings& m_settings;
    QComboBox* m_comboBox = nullptr;
    CodePageMap m_codePages;
};

}  // namespace quillon
