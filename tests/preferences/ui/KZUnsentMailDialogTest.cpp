#include "preferences/ui/KZUnsentMailDialog.h"

#include "preferences/KZURLOpener.h"

#include "platform/StringTable.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTextBlock>
#include <QTextLayout>
#include <QFontMetricsF>

#include <gtest/gtest.h>

#include <memory>

namespace {

QList<KZUnsentMailDialog*> shownDialogs()
{
    QList<KZUnsentMailDialog*> found;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<KZUnsentMailDialog*>(widget); dialog && dialog->isVisible())
            found << dialog;
    return found;
}

TEST(KZUnsentMailDialog, ShowsEachPartPlainlyAndCopiesItWhole)
{
    KZUnsentMail mail;
    mail.recipients = {QStringLiteral("a+b@x.example"), QStringLiteral("c@x.example")};
    mail.subject = QStringLiteral("Zoë & 50%");
    mail.body = QStringLiteral("line one\nline two\t<b>not bold</b>");
    KZUnsentMailDialog dialog(mail);
    dialog.show();

    EXPECT_EQ(dialog.messageLabel()->text(), platform::localizedString(QStringLiteral("unsent_mail_message")));
    EXPECT_EQ(dialog.addressField()->text(), QStringLiteral("a+b@x.example, c@x.example"));
    EXPECT_EQ(dialog.subjectField()->text(), mail.subject);
    EXPECT_EQ(dialog.textField()->toPlainText(), mail.body);
    // Selectable, not editable: what is copied is what was prepared.
    EXPECT_TRUE(dialog.addressField()->isReadOnly() && dialog.subjectField()->isReadOnly());
    EXPECT_TRUE(dialog.textField()->isReadOnly());
    EXPECT_TRUE(dialog.textField()->textInteractionFlags() & Qt::TextSelectableByKeyboard);

    using Part = KZUnsentMailDialog::Part;
    dialog.subjectField()->setSelection(0, 3); // a selection does not cut the copy short
    const std::pair<Part, QString> parts[] = {{Part::Address, dialog.addressField()->text()},
                                              {Part::Subject, mail.subject},
                                              {Part::Text, mail.body}};
    for (const auto& [part, expected] : parts) {
        QGuiApplication::clipboard()->clear();
        ASSERT_TRUE(dialog.copyButton(part)->isEnabled());
        dialog.copyButton(part)->click();
        EXPECT_EQ(QGuiApplication::clipboard()->text(), expected);
    }
    dialog.close();
}

TEST(KZUnsentMailDialog, OnlyAMessageNoMailProgramTookIsShown)
{
    bool mailProgram = true;
    QList<QUrl> handed;
    KZSetURLOpener([&](const QUrl& url) {
        handed << url;
        return mailProgram;
    });
    const auto restore = qScopeGuard([] {
        KZSetURLOpener({});
        for (KZUnsentMailDialog* dialog : shownDialogs())
            delete dialog;
    });
    const QUrl address(QStringLiteral("mailto:?subject=Maravex&body=Maravex finds duplicate files%0D%0A100%25 +safe"));
    int sent = -1;
    KZUnsentMailDialog::sendOrShow(address, nullptr, [&](bool took) { sent = took; });
    EXPECT_EQ(sent, 1);
    EXPECT_TRUE(shownDialogs().isEmpty());

    mailProgram = false;
    KZUnsentMailDialog::sendOrShow(address, nullptr, [&](bool took) { sent = took; });
    EXPECT_EQ(sent, 0);
    ASSERT_EQ(handed.size(), 2);
    const QList<KZUnsentMailDialog*> dialogs = shownDialogs();
    ASSERT_EQ(dialogs.size(), 1);
    KZUnsentMailDialog* dialog = dialogs.first();
    EXPECT_TRUE(dialog->testAttribute(Qt::WA_DeleteOnClose));
    // No address was given: nothing to copy there.
    EXPECT_TRUE(dialog->addressField()->text().isEmpty());
    EXPECT_FALSE(dialog->copyButton(KZUnsentMailDialog::Part::Address)->isEnabled());
    EXPECT_EQ(dialog->subjectField()->text(), QStringLiteral("Maravex"));
    EXPECT_EQ(dialog->textField()->toPlainText(), QStringLiteral("Maravex finds duplicate files\n100% +safe"));
}

// The tab between a name and an address shows as a gap, however near the
// name ends to a tab stop: "Ann Example" ends a hair before the default one.
TEST(KZUnsentMailDialog, ATabShowsAsAGapWhateverTheTextBeforeIt)
{
    const QString bodies[] = {
        QStringLiteral("Ann Example\tann@example.org"),
        QStringLiteral("A\ta@example.org"),
        QStringLiteral("\tnobody@example.org"),
        QStringLiteral("Bartholomew Longname-Example\tbart@example.org"),
        QStringLiteral("Ann Example\tann@example.org\nBo\tbo@example.org"),
    };
    for (const QString& body : bodies) {
        SCOPED_TRACE(body.toStdString());
        KZUnsentMail mail;
        mail.body = body;
        KZUnsentMailDialog dialog(mail);
        dialog.show();
        QApplication::processEvents();
        EXPECT_EQ(dialog.textField()->toPlainText(), body) << "shown as it is sent";
        const qreal space = QFontMetricsF(dialog.textField()->document()->defaultFont()).horizontalAdvance(u' ');
        for (QTextBlock block = dialog.textField()->document()->firstBlock(); block.isValid(); block = block.next()) {
            const qsizetype tab = block.text().indexOf(u'\t');
            ASSERT_GE(tab, 0);
            const QTextLine line = block.layout()->lineForTextPosition(int(tab));
            ASSERT_TRUE(line.isValid());
            EXPECT_GE(line.cursorToX(int(tab) + 1) - line.cursorToX(int(tab)), 2 * space) << block.text().toStdString();
        }
    }
}

} // namespace
