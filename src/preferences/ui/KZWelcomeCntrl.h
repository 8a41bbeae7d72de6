#pragma once

#include "preferences/KZWelcomeGeometry.h"

#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>

class QAbstractButton;
class QAbstractAnimation;
class QLabel;
class QPushButton;
class QWidget;
class KZAnimationIconView;
#include "preferences/ui/KZWelcomeWindow.h"
class KZGradientBackView;

// The welcome window: five pages leafed through with a previous and a next
// button. Creating the controller shows the window; its closing is announced
// with "welcomeDidClose" (object: the application delegate).
class KZWelcomeCntrl : public QObject {
    Q_OBJECT
public:
    // `appDelegate` is the object of the closing notification;
    // `subscribeNewsletter` opens the newsletter window.
    KZWelcomeCntrl(const void* appDelegate, std::function<void()> subscribeNewsletter, QObject* parent = nullptr);
    ~KZWelcomeCntrl() override;

    KZWelcomeWindow* window() const { return window_; }
    QPushButton* startUsingBtn() const { return startUsingBtn_; }
    QPushButton* prevBtn() const { return prevBtn_; }
    QPushButton* nextBtn() const { return nextBtn_; }
    QLabel* navInfoFld() const { return navInfoFld_; }
    KZGradientBackView* gradientBackView() const { return gradientBackView_; }
    QWidget* mainBackView() const { return mainBackView_; }
    KZAnimationIconView* iconAnimationView() const { return iconAnimationView_; }
    QLabel* appIconImageView() const { return appIconImageView_; }
    QLabel* image_1View() const { return image_1View_; }
    QLabel* image_2View() const { return image_2View_; }
    QPushButton* subscribeBtn() const { return subscribeBtn_; }
    QWidget* navView() const { return navView_; }
    const QList<QWidget*>& views() const { return views_; }
    quint64 currIndex() const { return currIndex_; }
    bool animationPerformed() const { return animationPerformed_; }

    // The previous (tag 0) and next (tag 1) buttons: a sender whose tag is
    // 1 moves forward, any other moves back.
    void navAction(int senderTag);
    void usingAction();
    void subscribeAction();
    void windowDidBecomeKey();
    void windowWillClose();

    // End frames of a slide from the pages' current frames (y up).
    KZWelcomeGeometry::EndFrames rectoForFromView(QWidget* fromView, QWidget* toView, int direction) const;
    // Parks every page but `index` just off the right edge.
    void setOriginalPosition(int index);
    void showImage_2();

    // A page's frame in mainBackView, y up.
    QRectF frameOfView(const QWidget* view) const;
    // True while pages slide.
    bool isSliding() const;

private:
    void buildLayout();
    QWidget* buildPage(int number);
    void setFrameOfView(QWidget* view, const QRectF& upFrame);
    void pageDidArrive(quint64 index);
    void finishRunningSlide();

    const void* appDelegate_;
    std::function<void()> subscribeNewsletter_;

    QPointer<KZWelcomeWindow> window_;
    QPushButton* startUsingBtn_ = nullptr;
    QPushButton* prevBtn_ = nullptr;
    QPushButton* nextBtn_ = nullptr;
    QLabel* navInfoFld_ = nullptr;
    KZGradientBackView* gradientBackView_ = nullptr;
    QWidget* mainBackView_ = nullptr;
    KZAnimationIconView* iconAnimationView_ = nullptr;
    QLabel* appIconImageView_ = nullptr;
    QLabel* image_1View_ = nullptr;
    QLabel* image_2View_ = nullptr;
    QPushButton* subscribeBtn_ = nullptr;
    QWidget* navView_ = nullptr;
    QList<QWidget*> views_;
    quint64 currIndex_ = 0;
    bool animationPerformed_ = false;
    bool closed_ = false;
    QPointer<QAbstractAnimation> slide_;
    QPointer<QAbstractAnimation> fade_;
};
