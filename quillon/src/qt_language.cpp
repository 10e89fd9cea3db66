#include "qt_language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QTranslator>

#include "string_table.h"

namespace quillon {

bool InstallQtTranslations(int languageId) {
    // One translator, owned by the application: the window thread is the
    // only one that changes it.
    static QPointer<QTranslator> translator;
    if (translator) {
        QCoreApplication::removeTranslator(translator);
    } else {
        translator = new QTranslator(QCoreApplication::instance());
    }
    if (languageId != kLanguageChinese) {
        return true;
    }
    if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                          QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

}  // namespace quillon
