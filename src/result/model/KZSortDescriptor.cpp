#include "result/model/KZSortDescriptor.h"

#include <QCollator>
#include <QDateTime>
#include <QLocale>


const QString KZSortDescriptor::compareSelector = QStringLiteral("compare:");

namespace {

QCollator collator(bool numeric)
{
    // The "C" locale collates by code point and ignores numeric mode, which
    // would sort "file10" before "file2"; names then sort as in English.
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator c(locale);
    c.setCaseSensitivity(Qt::CaseInsensitive);
    c.setNumericMode(numeric);
    return c;
}

int compareTexts(const QString& a, const QString& b, const QString& selector)
{
    if (selector == QLatin1String("caseInsensitiveCompare:"))
        return a.compare(b, Qt::CaseInsensitive);
    if (selector == QLatin1String("localizedCaseInsensitiveCompare:")
        || selector == QLatin1String("localizedStandardCompare:")) {
        // Collators are not safe to share between threads; list threads sort
        // too, so each thread keeps its own.
        thread_local QCollator plain = collator(false);
        thread_local QCollator numeric = collator(true);
        return selector.startsWith(QLatin1String("localizedStandard")) ? numeric.compare(a, b) : plain.compare(a, b);
    }
    return a.compare(b);
}

int sign(QPartialOrdering order)
{
    if (order == QPartialOrdering::Less)
        return -1;
    if (order == QPartialOrdering::Greater)
        return 1;
    return 0;
}

} // namespace

int KZSortDescriptor::compareObject(const QVariant& a, const QVariant& b) const
{
    int result = 0;
    const bool textA = a.metaType() == QMetaType::fromType<QString>();
    const bool textB = b.metaType() == QMetaType::fromType<QString>();
    if (textA && textB)
        result = compareTexts(a.toString(), b.toString(), selector_);
    else if (textA != textB)
        result = 0;
    else
        result = sign(QVariant::compare(a, b));
    return ascending_ ? result : -result;
}
