#include "preferences/ui/KZSubscribe.h"

#include "preferences/KZSubscribeMessage.h"
#include "preferences/ui/KZUnsentMailDialog.h"
#include "preferences/ui/KZSubscribeWindow.h"

#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "services/KZExtensionFunctions.h"
#include "services/ui/KZFocusRing.h"
#include "services/ui/KZGradientBackView.h"
#include "settings/KZNotificationNames.h"

#include <QApplication>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kFormWidth = 440;
constexpr int kFormHeight = 236;

QString text(const char* key)
{
    return platform::localizedString(QString::fromLatin1(key));
}

} // namespace

KZSubscribe::KZSubscribe(const void* appDelegate, QObject* parent) : QObject(parent), appDelegate_(appDelegate)
{
    buildLayout();
    backLayerView_->backgroundLayerWithTitle(QString());

    // The background and the form cover the window with the form's size.
    const int W = gradientBackView_->width();
    const int H = gradientBackView_->height();
    window_->setFixedSize(W, H);
    backLayerView_->setPanelGeometry(QRect(0, 0, W, H));
    gradientBackView_->setGeometry(0, 0, W, H);
    backLayerView_->lower();
    window_->closeButton()->raise();
    window_->setMask(QRegion(backLayerView_->path().translated(backLayerView_->pos()).toFillPolygon().toPolygon()));

    connect(window_, &KZPanelWindow::windowWillClose, this, &KZSubscribe::windowWillClose);
    window_->centerAndShow();
    nameFld_->setFocus();
}

KZSubscribe::~KZSubscribe()
{
    delete window_.data();
}

void KZSubscribe::buildLayout()
{
    window_ = new KZSubscribeWindow;
    backLayerView_ = new KZGradientBackView(window_);
    backLayerView_->setObjectName(QStringLiteral("backLayerView"));
    backLayerView_->setAttribute(Qt::WA_TransparentForMouseEvents);

    gradientBackView_ = new QWidget(window_);
    gradientBackView_->setObjectName(QStringLiteral("gradientBackView"));
    gradientBackView_->resize(kFormWidth, kFormHeight);

    auto* column = new QVBoxLayout(gradientBackView_);
    column->setContentsMargins(36, 30, 36, 26);
    column->setSpacing(10);

    auto* title = new QLabel(text("newsletter_title"), gradientBackView_);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(18);
    titleFont.setWeight(QFont::Light);
    title->setFont(titleFont);
    title->setStyleSheet(QStringLiteral("color: #262a30;"));
    auto* info = new QLabel(text("newsletter_info"), gradientBackView_);
    info->setWordWrap(true);
    info->setStyleSheet(QStringLiteral("color: #4a505a;"));
    column->addWidget(title);
    column->addWidget(info);

    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight);
    nameFld_ = new QLineEdit(gradientBackView_);
    nameFld_->setObjectName(QStringLiteral("nameFld"));
    nameFld_->setPlaceholderText(text("newsletter_name_placeholder"));
    emailFld_ = new QLineEdit(gradientBackView_);
    emailFld_->setObjectName(QStringLiteral("emailFld"));
    emailFld_->setPlaceholderText(text("newsletter_email_placeholder"));
    auto* nameLabel = new QLabel(text("newsletter_name"), gradientBackView_);
    auto* emailLabel = new QLabel(text("newsletter_email"), gradientBackView_);
    nameLabel->setStyleSheet(QStringLiteral("color: #262a30;"));
    emailLabel->setStyleSheet(QStringLiteral("color: #262a30;"));
    form->addRow(nameLabel, nameFld_);
    form->addRow(emailLabel, emailFld_);
    column->addLayout(form);
    column->addStretch(1);

    subscribeBtn_ = new QPushButton(text("newsletter_subscribe"), gradientBackView_);
    subscribeBtn_->setObjectName(QStringLiteral("subscribeBtn"));
    // The default for good: outside a dialog, an auto-default button that
    // loses the focus stops being the default, and Return in the fields
    // would then press nothing.
    subscribeBtn_->setAutoDefault(false);
    subscribeBtn_->setDefault(true);
    // The style outlines a default button as it outlines the focus: the
    // focus on it shows by a ring of its own.
    KZFocusRing::showWhileFocused(subscribeBtn_, 4);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(subscribeBtn_);
    column->addLayout(buttons);
    // Return in either field reaches the window, which presses this default
    // button: one road, so that one Return subscribes once.
    connect(subscribeBtn_, &QPushButton::clicked, this, &KZSubscribe::subscribeAction);
}

void KZSubscribe::setEmailColour(const QColor& colour)
{
    QPalette palette = emailFld_->palette();
    palette.setColor(QPalette::Text, colour);
    emailFld_->setPalette(palette);
}

bool KZSubscribe::emailMarkedInvalid() const
{
    return emailFld_->palette().color(QPalette::Text) == QColor(Qt::red);
}

void KZSubscribe::subscribeAction()
{
    const QString name = nameFld_->text();
    const QString email = emailFld_->text();
    if (!isValidEmail(email)) {
        setEmailColour(Qt::red);
        QApplication::beep();
        return;
    }
    setEmailColour(Qt::black);
    const KZSubscribeMessage message = KZMakeSubscribeMessage(name, email);
    // What the mail program does with the message is the user's business.
    // The window goes once a mail program has it; without one the user gets
    // the message to send by hand and keeps what they typed. One request at
    // a time: the desktop may take seconds.
    subscribeBtn_->setEnabled(false);
    KZUnsentMailDialog::sendOrShow(message.mailtoURL(), window_, [guard = QPointer<KZSubscribe>(this)](bool opened) {
        if (!guard)
            return;
        guard->subscribeBtn_->setEnabled(true);
        if (opened && guard->window_)
            guard->window_->close();
    });
}

void KZSubscribe::windowWillClose()
{
    if (closed_)
        return;
    closed_ = true;
    platform::NotificationCenter::defaultCenter().post(KZNotification::newsletterDidClose,
                                                       platform::NotificationObject(appDelegate_));
}
