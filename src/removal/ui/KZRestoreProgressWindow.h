#pragma once

#include "removal/KZRestoreRemovedFiles.h"
#include "services/KZProgressDisplayRule.h"

#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <QTimer>

class QWidget;

// The progress of an undo or a restore on screen: window-modal on `parent`
// (the restore window), else a centred window above the others. Shown only
// when the work outlasts the delay; deletes itself when the work has ended.
class KZRestoreProgressWindow : public QObject {
    Q_OBJECT
public:
    KZRestoreProgressWindow(KZRestoreRemovedFiles& engine, QWidget* parent, const QString& info);
    ~KZRestoreProgressWindow() override;

    // Edit > Undo of a removal: the undo is queued and its progress shown
    // centred above the other windows. Answers the window, which deletes
    // itself when the undo has ended.
    static KZRestoreProgressWindow* undoWithProgress(KZRestoreRemovedFiles& engine, KZUndoDict dict);

    QProgressDialog* dialog() const { return dialog_; }
    void tick();

private:
    void refresh();

    KZRestoreRemovedFiles& engine_;
    KZProgressDisplayRule progress_;
    QPointer<QWidget> parent_;
    QString info_;
    QPointer<QProgressDialog> dialog_;
    QTimer timer_;
};
