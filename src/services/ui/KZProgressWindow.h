#pragma once

#include <QDialog>

class KZGenericProgressWindowCntrl;

// The small progress window of saving, exporting and restoring. Escape and
// the window's close button ask the work to stop instead of hiding the
// window while the work goes on; the owner closes the window when its work
// has ended (close() or done() from code are not intercepted).
class KZProgressWindow : public QDialog {
    Q_OBJECT
public:
    explicit KZProgressWindow(KZGenericProgressWindowCntrl* controller, QWidget* parent = nullptr);

public Q_SLOTS:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    KZGenericProgressWindowCntrl* controller_;
};
