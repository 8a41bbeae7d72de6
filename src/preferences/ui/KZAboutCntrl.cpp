#include "preferences/ui/KZAboutCntrl.h"

#include "preferences/KZBundleInfo.h"
#include "preferences/ui/KZAboutTextField.h"
#include "preferences/ui/KZAboutTextView.h"
#include "preferences/ui/KZAboutWindow.h"
#include "preferences/ui/KZAppNameLogoView.h"

#include "platform/NotificationCenter.h"
#include "platform/StringTable.h"
#include "services/KZErrorDelegate.h"
#include "services/ui/KZFocusRing.h"
#include "services/ui/KZImages.h"
#include "settings/KZNotificationNames.h"

#include <QLabel>
#include <QPushButton>
#include <QToolButton>

namespace {
constexpr int kWindowWidth = 520;
constexpr int kWindowHeight = 330;
} // namespace

KZAboutCntrl::KZAboutCntrl(const void* appDelegate, QObject* parent) : QObject(parent), appDelegate_(appDelegate)
{
    buildLayout();
    creditBtn_->hide();
    appNameLogo_->setSemiboldFont();
    versionFld_->setText(versionLine(versionFld_->text()));
    connect(window_, &KZPanelWindow::windowWillClose, this, &KZAboutCntrl::windowWillClose);
    window_->centerAndShow();
    splashBtn_->setFocus();
}

KZAboutCntrl::~KZAboutCntrl()
{
    delete window_.data();
}

QString KZAboutCntrl::versionLine(const QString& format)
{
    return KZErrorDelegate::replaceContentOfString(format, {KZShortVersionString(), KZBundleVersion()});
}

void KZAboutCntrl::buildLayout()
{
    window_ = new KZAboutWindow;
    window_->setFixedSize(kWindowWidth, kWindowHeight);

    appNameLogo_ = new KZAppNameLogoView(window_);
    appNameLogo_->setObjectName(QStringLiteral("appNameLogo"));
    appNameLogo_->setGeometry(0, 28, kWindowWidth, 120);

    // The layout's text is the format of the version line.
    versionFld_ = new QLabel(platform::localizedString(QStringLiteral("about_version_format")), window_);
    versionFld_->setObjectName(QStringLiteral("versionFld"));
    versionFld_->setAlignment(Qt::AlignCenter);
    versionFld_->setTextFormat(Qt::PlainText);
    versionFld_->setStyleSheet(QStringLiteral("color: #aab3c2;"));
    versionFld_->setGeometry(0, 146, kWindowWidth, 22);

    auto* splash = new QToolButton(window_);
    splash->setObjectName(QStringLiteral("splashBtn"));
    splash->setAutoRaise(true);
    splash->setIcon(QIcon(QPixmap::fromImage(KZImages::applicationIcon(128))));
    splash->setIconSize(QSize(72, 72));
    splash->setGeometry(40, 196, 88, 88);
    splash->setToolTip(platform::localizedString(QStringLiteral("about_acknowledgments")));
    splash->setStyleSheet(QStringLiteral(
        "QToolButton { border: none; border-radius: 10px; background: transparent; }"
        "QToolButton:hover { background: rgba(255,255,255,0.06); }"
        "QToolButton:pressed { background: rgba(255,255,255,0.16); }"));
    // It has the focus from the start (Space and Return open the
    // acknowledgments): its sheet drops the style's mark of it.
    KZFocusRing::showWhileFocused(splash, 10);
    splashBtn_ = splash;
    connect(splashBtn_, &QAbstractButton::clicked, this, &KZAboutCntrl::acknowledgmentAction);

    creditsLabel_ = new KZAboutTextField(platform::localizedString(QStringLiteral("about_acknowledgments")), window_);
    creditsLabel_->setObjectName(QStringLiteral("creditsLabel"));
    creditsLabel_->setAlignment(Qt::AlignCenter);
    creditsLabel_->setStyleSheet(QStringLiteral("color: #7fb2f0; font-size: 10pt;"));
    creditsLabel_->setGeometry(20, 286, 128, 20);
    creditsLabel_->setSplashButton(splashBtn_);

    creditsText_ = new KZAboutTextView(window_);
    creditsText_->setObjectName(QStringLiteral("creditsText"));
    creditsText_->setGeometry(150, 196, kWindowWidth - 150 - 36, 110);
    creditsText_->setCredits(platform::localizedString(QStringLiteral("about_credits")));
    creditsText_->setSplashButton(splashBtn_);

    creditBtn_ = new QPushButton(platform::localizedString(QStringLiteral("about_acknowledgments")), window_);
    creditBtn_->setObjectName(QStringLiteral("creditBtn"));
    connect(creditBtn_, &QPushButton::clicked, this, &KZAboutCntrl::acknowledgmentAction);
}

void KZAboutCntrl::closeAction()
{
    if (window_)
        window_->close();
}

void KZAboutCntrl::acknowledgmentAction()
{
    KZErrorDelegate::sharedControl().showMessagePanel(nullptr, QStringLiteral("acknowledgment"));
}

void KZAboutCntrl::windowWillClose()
{
    if (closed_)
        return;
    closed_ = true;
    platform::NotificationCenter::defaultCenter().post(KZNotification::aboutDidClose,
                                                       platform::NotificationObject(appDelegate_));
}
