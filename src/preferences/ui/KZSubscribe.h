#pragma once

#include <QObject>
#include <QPointer>

class QLineEdit;
class QPushButton;
class QWidget;
class KZGradientBackView;
#include "preferences/ui/KZSubscribeWindow.h"

// The newsletter window: a name, an e-mail address and a subscribe button.
// Subscribing checks the address and hands a prepared message to the user's
// mail program; nothing is sent from here. Creating the controller shows the
// window; its closing is announced with "newsletterDidClose" (object: the
// application delegate).
class KZSubscribe : public QObject {
    Q_OBJECT
public:
    explicit KZSubscribe(const void* appDelegate, QObject* parent = nullptr);
    ~KZSubscribe() override;

    KZSubscribeWindow* window() const { return window_; }
    QLineEdit* nameFld() const { return nameFld_; }
    QLineEdit* emailFld() const { return emailFld_; }
    QPushButton* subscribeBtn() const { return subscribeBtn_; }
    KZGradientBackView* backLayerView() const { return backLayerView_; }
    QWidget* gradientBackView() const { return gradientBackView_; }

    void subscribeAction();
    void windowWillClose();

    // Whether the address field shows the refused colour.
    bool emailMarkedInvalid() const;

private:
    void buildLayout();
    void setEmailColour(const QColor& colour);

    const void* appDelegate_;
    QPointer<KZSubscribeWindow> window_;
    QLineEdit* nameFld_ = nullptr;
    QLineEdit* emailFld_ = nullptr;
    QPushButton* subscribeBtn_ = nullptr;
    KZGradientBackView* backLayerView_ = nullptr;
    QWidget* gradientBackView_ = nullptr;
    bool closed_ = false;
};
