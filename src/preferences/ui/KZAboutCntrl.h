#pragma once

#include <QObject>
#include <QPointer>

class QAbstractButton;
class QLabel;
class QPushButton;
class KZAboutTextField;
class KZAboutTextView;
#include "preferences/ui/KZAboutWindow.h"
class KZAppNameLogoView;

// The About window: the drawn product name, the version and build of the
// running program, and the credits. Creating the controller shows the
// window; its closing is announced with "aboutDidClose" (object: the
// application delegate).
class KZAboutCntrl : public QObject {
    Q_OBJECT
public:
    explicit KZAboutCntrl(const void* appDelegate, QObject* parent = nullptr);
    ~KZAboutCntrl() override;

    KZAboutWindow* window() const { return window_; }
    KZAppNameLogoView* appNameLogo() const { return appNameLogo_; }
    QLabel* versionFld() const { return versionFld_; }
    QPushButton* creditBtn() const { return creditBtn_; }
    QAbstractButton* splashBtn() const { return splashBtn_; }
    KZAboutTextView* creditsText() const { return creditsText_; }
    KZAboutTextField* creditsLabel() const { return creditsLabel_; }

    void closeAction();
    // The acknowledgments, as an application-modal message.
    void acknowledgmentAction();
    void windowWillClose();

    // The version line from the layout's format: its first "%@" takes the
    // short version, the second the build number.
    static QString versionLine(const QString& format);

private:
    void buildLayout();

    const void* appDelegate_;
    QPointer<KZAboutWindow> window_;
    KZAppNameLogoView* appNameLogo_ = nullptr;
    QLabel* versionFld_ = nullptr;
    QPushButton* creditBtn_ = nullptr;
    QAbstractButton* splashBtn_ = nullptr;
    KZAboutTextView* creditsText_ = nullptr;
    KZAboutTextField* creditsLabel_ = nullptr;
    bool closed_ = false;
};
