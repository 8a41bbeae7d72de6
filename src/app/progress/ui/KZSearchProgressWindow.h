#pragma once

#include "app/progress/KZSearchProgressDisplay.h"

#include <QWidget>

class KZSearchProgress;

// The round progress window: the backdrop, the centre disc with its counters
// and buttons, the ring of file-type tabs and the two information panels.
class KZSearchProgressWindow : public QWidget, public KZSearchProgressDisplay {
    Q_OBJECT
public:
    KZSearchProgressWindow(KZSearchProgress& controller, QWidget* searchView);
    ~KZSearchProgressWindow() override;

    void resetForNewSearch() override {}
    void showWindow() override {}
    void hideWindow() override {}
    void setFieldText(Field, const QString&) override {}
    void setTitleText(const QString&) override {}
    void setFolderCaptions() override {}
    void startIndeterminateAnimation() override {}
    void setDeterminate() override {}
    void setPercentage(double) override {}
    void stopProgressAnimation() override {}
    void showFolderView(bool) override {}
    void initializeForNewFolder() override {}
    void setFolderCurrent(const QString&) override {}
    void setFolderTotals(const QString&, const QString&) override {}
    void updateTabs(const KZFileTypeSnapshot&) override {}
    void closeExtraInfo() override {}
    void enlargeRing(bool) override {}
    void showEnd(bool, const KZFileTypeSnapshot&) override {}
    void showPreparingResult() override {}
    void offerResult() override {}
    void showInvalidEnd() override {}

private:
    KZSearchProgress& controller_;
};
