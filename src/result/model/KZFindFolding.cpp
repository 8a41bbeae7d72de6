#include "result/model/KZFindFolding.h"

namespace KZFindFolding {

QString fold(const QString& text)
{
    // Most names are plain ASCII; they need neither decomposition nor the
    // full case-folding tables, which matters over 100,000 rows.
    bool ascii = true;
    for (const QChar c : text) {
        if (c.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii)
        return text.toLower();

    const QString decomposed = text.normalized(QString::NormalizationForm_D);
    QString stripped;
    stripped.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        if (c.category() != QChar::Mark_NonSpacing)
            stripped.append(c);
    }
    return stripped.toCaseFolded();
}

bool nameContains(const QString& name, const QString& foldedText)
{
    return fold(name).contains(foldedText);
}

} // namespace KZFindFolding
