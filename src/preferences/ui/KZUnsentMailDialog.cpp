#include "preferences/ui/KZUnsentMailDialog.h"

#include "platform/StringTable.h"
#include "preferences/KZURLOpener.h"
#include "services/ui/KZFocusRing.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFontMetricsF>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QString text(const char* key)
{
    return platform::localizedString(QString::fromLatin1(key));
}

QPushButton* copyButtonFor(QWidget* parent, std::function<QString()> content)
{
    auto* button = new QPushButton(text("unsent_mail_copy"), parent);
    button->setAutoDefault(false);
    button->setEnabled(!content().isEmpty());
    QObject::connect(button, &QPushButton::clicked, button,
                     [content = std::move(content)] { QGuiApplication::clipboard()->setText(content()); });
    return button;
}

} // namespace

KZUnsentMailDialog::KZUnsentMailDialog(const KZUnsentMail& mail, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(text("unsent_mail_title"));
    setObjectName(QStringLiteral("unsentMail"));

    auto* icon = new QLabel(this);
    const int side = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(side, side));
    message_ = new QLabel(text("unsent_mail_message"), this);
    message_->setWordWrap(true);
    QFont bold = message_->font();
    bold.setBold(true);
    message_->setFont(bold);
    auto* info = new QLabel(text("unsent_mail_info"), this);
    info->setWordWrap(true);

    address_ = new QLineEdit(mail.recipientsLine(), this);
    subject_ = new QLineEdit(mail.subject, this);
    text_ = new QPlainTextEdit(mail.body, this);
    for (QLineEdit* field : {address_, subject_}) {
        field->setReadOnly(true);
        field->setCursorPosition(0);
    }
    text_->setReadOnly(true);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    text_->setMinimumHeight(fontMetrics().lineSpacing() * 6);
    // A tab (the newsletter request's, between name and address) reaches
    // the next tab stop, which may lie a hair past the text before it: the
    // two would read as one word. The stops go past the widest text before
    // a line's first tab, so that each such tab shows as a gap.
    const QFontMetricsF metrics(text_->document()->defaultFont());
    qreal widest = -1;
    for (const QString& line : mail.body.split(QLatin1Char('\n'))) {
        if (const qsizetype tab = line.indexOf(QLatin1Char('\t')); tab >= 0)
            widest = std::max(widest, metrics.horizontalAdvance(line.left(tab)));
    }
    if (widest >= 0)
        text_->setTabStopDistance(
            std::max(text_->tabStopDistance(), widest + metrics.horizontalAdvance(QStringLiteral("    "))));
    // The fields hold only what was given; the buttons copy it whole, not
    // a selection.
    copyAddress_ = copyButtonFor(this, [this] { return address_->text(); });
    copySubject_ = copyButtonFor(this, [this] { return subject_->text(); });
    copyText_ = copyButtonFor(this, [this] { return text_->toPlainText(); });

    auto* grid = new QGridLayout;
    const auto row = [&](int at, const char* label, QWidget* field, QPushButton* copy) {
        auto* title = new QLabel(text(label), this);
        title->setBuddy(field);
        // A one-line field's title sits beside its line, the text's at its top.
        const Qt::Alignment place = field == text_ ? Qt::AlignTop : Qt::AlignVCenter;
        grid->addWidget(title, at, 0, Qt::AlignRight | place);
        grid->addWidget(field, at, 1);
        grid->addWidget(copy, at, 2, place);
    };
    row(0, "unsent_mail_address", address_, copyAddress_);
    row(1, "unsent_mail_subject", subject_, copySubject_);
    row(2, "unsent_mail_text", text_, copyText_);
    grid->setRowStretch(2, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // The style outlines the default button as it outlines the focus, and
    // gives the text's frame no mark of it: both show it by a ring.
    KZFocusRing::showWhileFocused(buttons->button(QDialogButtonBox::Close), 4);
    KZFocusRing::showWhileFocused(text_);

    auto* head = new QHBoxLayout;
    head->addWidget(icon, 0, Qt::AlignTop);
    auto* words = new QVBoxLayout;
    words->addWidget(message_);
    words->addWidget(info);
    head->addLayout(words, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(head);
    layout->addLayout(grid, 1);
    layout->addWidget(buttons);
    resize(520, sizeHint().height());
}

QPushButton* KZUnsentMailDialog::copyButton(Part part) const
{
    switch (part) {
    case Part::Address:
        return copyAddress_;
    case Part::Subject:
        return copySubject_;
    case Part::Text:
        break;
    }
    return copyText_;
}

void KZUnsentMailDialog::sendOrShow(const QUrl& mailto, QWidget* parent, std::function<void(bool)> answer)
{
    KZOpenURL(mailto, [mailto, parent = QPointer<QWidget>(parent), answer = std::move(answer)](bool sent) {
        if (!sent) {
            const KZUnsentMail mail = KZUnsentMail::fromURL(mailto).value_or(KZUnsentMail{});
            auto* dialog = new KZUnsentMailDialog(mail, parent);
            dialog->setAttribute(Qt::WA_DeleteOnClose);
            dialog->show();
            dialog->raise();
            dialog->activateWindow();
        }
        if (answer)
            answer(sent);
    });
}
