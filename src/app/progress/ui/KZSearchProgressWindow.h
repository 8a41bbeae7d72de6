#pragma once

#include "app/progress/KZSearchProgressDisplay.h"
#include "services/ui/KZWindowDrag.h"

#include <QPointer>
#include <QWidget>

class KZProgressImageView;
class KZProgressTabs;
class KZSearchProgress;
class KZSearchProgressExtraInfoCntrl;
class KZSearchProgressFoldersInfoCntrl;
class QLabel;
class QPushButton;
class QAbstractButton;

// The round progress window. Its content is the main view (the round
// backdrop) holding the 350-point centre disc with the progress image, the
// phase title, four counters with their captions and the stop and
// show-result buttons; the reset and close buttons sit on the main view, and
// the ring of file-type tabs lies beside it, under the main view.
class KZSearchProgressWindow : public QWidget, public KZSearchProgressDisplay {
    Q_OBJECT
public:
    static constexpr int kDefaultSide = 509;
    static constexpr int kDiscSide = 350;

    KZSearchProgressWindow(KZSearchProgress& controller, QWidget* searchView);
    ~KZSearchProgressWindow() override;

    // ---- KZSearchProgressDisplay ----
    void resetForNewSearch() override;
    void showWindow() override;
    void hideWindow() override;
    void setFieldText(Field field, const QString& text) override;
    void setTitleText(const QString& text) override;
    void setFolderCaptions() override;
    void startIndeterminateAnimation() override;
    void setDeterminate() override;
    void setPercentage(double percent) override;
    void stopProgressAnimation() override;
    void showFolderView(bool show) override;
    void initializeForNewFolder() override;
    void setFolderCurrent(const QString& text) override;
    void setFolderTotals(const QString& total, const QString& size) override;
    void updateTabs(const KZFileTypeSnapshot& types) override;
    void closeExtraInfo() override;
    void enlargeRing(bool enlarge) override;
    void showEnd(bool valid, const KZFileTypeSnapshot& types) override;
    void showPreparingResult() override;
    void offerResult(const QString& endTitle) override;
    void showInvalidEnd(const QString& endTitle) override;

    // ---- Parts, for the controller and tests ----
    QWidget* mainView() const { return mainView_; }
    QWidget* progressView() const { return centreView_; }
    KZProgressImageView* progressImageView() const { return progressImage_; }
    KZProgressTabs* tabsView() const { return tabs_; }
    KZSearchProgressExtraInfoCntrl* fileTypeExtraInfoCntrl() const { return extraInfo_; }
    KZSearchProgressFoldersInfoCntrl* foldersInfoCntrl() const { return foldersInfo_; }
    QPushButton* stopBtn() const { return stopBtn_; }
    QPushButton* showResultBtn() const { return showResultBtn_; }
    QPushButton* resetBtn() const { return resetBtn_; }
    QAbstractButton* closeBtn() const { return closeBtn_; }
    QAbstractButton* menuBtn() const { return menuBtn_; }
    QLabel* mainInfoFld() const { return mainInfoFld_; }
    QLabel* valueField(Field field) const { return values_[static_cast<int>(field)]; }
    QLabel* captionField(Field field) const { return captions_[static_cast<int>(field)]; }
    bool isEnlarged() const { return enlarged_; }
    bool isShowWindow() const { return isShowWindow_; }
    // Whether a widget is shown at full opacity (fades ended).
    static double alphaOf(const QWidget* widget);
    void reinitializeWindow();
    void adjustFont();

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void build();
    void updateMask();
    // A stopped search says so to the end; any other end clears the title.
    void showEndTitle(const QString& endTitle);
    void fade(QWidget* widget, double alpha, bool hideAtEnd, double seconds, std::function<void()> done = {});
    void setCloseEnabled(bool enabled);

    KZSearchProgress& controller_;
    KZWindowDrag windowDrag_;
    QPointer<QWidget> searchView_;
    int side_ = kDefaultSide;
    QWidget* mainView_ = nullptr;
    QWidget* centreView_ = nullptr;
    KZProgressImageView* progressImage_ = nullptr;
    KZProgressTabs* tabs_ = nullptr;
    KZSearchProgressExtraInfoCntrl* extraInfo_ = nullptr;
    KZSearchProgressFoldersInfoCntrl* foldersInfo_ = nullptr;
    QLabel* mainInfoFld_ = nullptr;
    QLabel* values_[4] = {};
    QLabel* captions_[4] = {};
    QString savedCaptions_[3];
    QPushButton* stopBtn_ = nullptr;
    QPushButton* showResultBtn_ = nullptr;
    QPushButton* resetBtn_ = nullptr;
    QAbstractButton* closeBtn_ = nullptr;
    QAbstractButton* menuBtn_ = nullptr;
    bool enlarged_ = false;
    bool isShowWindow_ = false;
};
