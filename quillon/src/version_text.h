// The version the build embeds in the program file, and the window caption
// made from it.
#pragma once

#include <QString>
#include <filesystem>

namespace quillon {

// "1.0.0.5" unless the file carries a version record; then either the third
// number alone (buildOnly) or all four as "a.b.c.d".
QString GetFileVersionText(const std::filesystem::path& file, bool buildOnly);

// "<title> Va.b.c.Bd", or "<title> Va.b.c" when the fourth number is 0;
// "(Harlowe)" follows when hexOut is nonzero.
QString BuildCaption(const QString& title, const QString& versionText, int hexOut);

}  // namespace quillon
