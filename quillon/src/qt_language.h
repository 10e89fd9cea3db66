// Qt's own texts (the standard buttons OK and Cancel, the line edit's menu)
// in the language of the program's texts.
#pragma once

namespace quillon {

// Installs Qt's translations for the language id (2052: Chinese) into the
// running application, replacing those of an earlier call; English needs
// none. False when the translation files of Qt are not installed.
bool InstallQtTranslations(int languageId);

}  // namespace quillon
