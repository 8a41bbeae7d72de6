#pragma once

#include "services/ui/KZProgressWindow.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>

class KZLinearProgressIndicatorView;

class QLabel;
class QPushButton;
class QWidget;

// Owns one small progress window ("Progress": an information line, the
// linear indicator, a count with its caption and a Stop button) for work
// that its owner runs: saving, exporting, restoring. The owner shows the
// window as a sheet or on its own, fills the fields, polls wasStopped() and
// closes the window; this object only holds the parts and the stop flag.
class KZGenericProgressWindowCntrl : public QObject {
    Q_OBJECT
public:
    // Builds the window; `parent` is the window it will be a sheet on, if any.
    explicit KZGenericProgressWindowCntrl(QWidget* parent = nullptr);
    ~KZGenericProgressWindowCntrl() override;

    KZProgressWindow* window() const { return window_; }
    QLabel* infoFld() const { return infoFld_; }
    KZLinearProgressIndicatorView* spinning() const { return spinning_; }
    QLabel* countFld() const { return countFld_; }
    QLabel* countTxt() const { return countTxt_; }
    QPushButton* stopBtn() const { return stopBtn_; }
    // There is no touch bar here; always null.
    QPushButton* touchStopBtn() const { return nullptr; }

    // The count field's text as built ("%1 of %2"), the format the owner
    // fills with its numbers.
    QString countStr() const { return countStr_; }
    bool isInderminate() const { return isInderminate_; }
    void setIsInderminate(bool flag) { isInderminate_ = flag; }

    // Set once the user asked to stop, never cleared. Owners' worker threads
    // read it while the main thread sets it.
    bool wasStopped() const { return wasStopped_.load(std::memory_order_acquire); }

public Q_SLOTS:
    void stopAction();

Q_SIGNALS:
    // The user asked to stop (Stop, Escape, the close button), once: for an
    // owner whose work does not poll wasStopped().
    void stopAsked();

private:
    QPointer<KZProgressWindow> window_;
    QLabel* infoFld_ = nullptr;
    KZLinearProgressIndicatorView* spinning_ = nullptr;
    QLabel* countFld_ = nullptr;
    QLabel* countTxt_ = nullptr;
    QPushButton* stopBtn_ = nullptr;
    QString countStr_;
    bool isInderminate_ = false;
    std::atomic<bool> wasStopped_{false};
};
