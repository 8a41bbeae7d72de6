#pragma once

#include <QString>

// Matching of the find field against row names as a user expects it:
// "cafe" finds "Café", "CAFÉ" and "café". Both texts are decomposed (NFD),
// their combining marks dropped and their case folded; then the name must
// contain the text.
namespace KZFindFolding {

QString fold(const QString& text);
// `foldedText` is fold() of what the user typed.
bool nameContains(const QString& name, const QString& foldedText);

} // namespace KZFindFolding
