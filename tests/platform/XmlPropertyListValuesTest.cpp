// The values of an XML property list as a streaming reader reads them.

#include "platform/XmlPropertyListValues.h"

#include <gtest/gtest.h>

namespace {

// The check, fed `text` in pieces of `piece` characters.
bool checkedInPieces(const QString& text, qsizetype piece)
{
    platform::xmlplist::Base64Check check;
    bool good = true;
    for (qsizetype at = 0; at < text.size(); at += piece)
        good = check.add(QStringView(text).mid(at, piece)) && good;
    return check.finish() && good;
}

} // namespace

// Data that is passed over is checked piece by piece, without its bytes,
// to the answer base64() gives for the whole: padding only at the end and
// at most two, whole quads, white space anywhere, and a fault far past the
// first group of 64 K letters still found.
TEST(XmlPropertyListValues, Base64IsCheckedInPiecesAsItIsReadWhole)
{
    const QString quads = QString(QStringLiteral("QUJD")).repeated(40000);
    const std::vector<QString> texts{
        QString(),
        QStringLiteral("QQ=="),
        QStringLiteral("QUI="),
        QStringLiteral("QUJD"),
        QStringLiteral(" Q\tQ\n= =\r"),
        QStringLiteral("QQ"),
        QStringLiteral("Q==="),
        QStringLiteral("===="),
        QStringLiteral("QQ=A"),
        QStringLiteral("QQ==QQ=="),
        QStringLiteral("Q!Q="),
        QStringLiteral("QUJD\u00e9"),
        quads,
        quads + QStringLiteral("QQ=="),
        QStringLiteral("\n\t\t").repeated(3) + quads + QStringLiteral("\nQUI=\n"),
        quads + QStringLiteral("QQ"),
        quads + QStringLiteral("Q=") + quads,
        quads + QStringLiteral("-") + quads,
        quads + QStringLiteral("QQ==="),
    };
    for (const QString& text : texts) {
        const bool whole = platform::xmlplist::base64(text).has_value();
        const std::string which = text.left(24).toStdString() + "… (" + std::to_string(text.size()) + ")";
        for (const qsizetype piece : {qsizetype(1), qsizetype(3), qsizetype(4096), qsizetype(1) << 30}) {
            EXPECT_EQ(checkedInPieces(text, piece), whole) << which << " in pieces of " << piece;
        }
    }
}
