#pragma once

#include "removal/KZRemoveCntrl.h"
#include "removal/KZRemovePanelGeometry.h"
#include "services/ui/Popover.h"

#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class QCheckBox;
class QKeyEvent;
class QLabel;
class QProgressBar;
class QPushButton;

// What the panel needs of the result window it lies in.
class KZRemovePanelHost {
public:
    virtual ~KZRemovePanelHost() = default;
    // The tab's marking can no longer be undone once items leave.
    virtual void purgeMarkingUndo() = 0;
    // Asks for the destination folder; `done` gets it, or an empty path when
    // the user cancelled. May answer later.
    virtual void chooseDestination(const std::function<void(const std::filesystem::path&)>& done) = 0;
    // The question about empty folders: 1000 for "report".
    virtual qint64 askReportEmptyFolders() = 0;
};

// The removal panel laid over a tab's result view: a tinted veil, the
// choosing card with its Trash and move pages, the progress card and the
// final card. It opens with four veil tiles sliding in from the corners and
// closes by sliding them out, then posts "removingProcessDidChangeStatus"
// and "removePanelDidClose" and deletes itself.
class KZRemovePanelWidget : public QWidget {
    Q_OBJECT
public:
    // Builds the panel over `resultView` and opens it. The returned
    // controller is the panel's owner: the tab keeps it until the panel
    // announces its closing.
    static std::shared_ptr<KZRemoveCntrl> open(const QVariantMap& request, QWidget* resultView,
                                               KZRemovePanelHost* host);

    enum class Card { None, Choose, Progress, Final };
    Card visibleCard() const { return card_; }
    bool isOpening() const { return opening_; }
    bool isClosing() const { return closing_; }
    bool movePageShown() const { return cntrl() && cntrl()->startTag() == KZRemoveAction::move; }
    QWidget* chooseCard() const { return firstView_; }
    QWidget* trashPage() const { return trashView_; }
    QWidget* movePage() const { return moveView_; }
    QWidget* progressCard() const { return progressView_; }
    QWidget* finalCard() const { return finalView_; }
    QPushButton* startButton() const { return startBtn_[0]; }
    QPushButton* moveStartButton() const { return startBtn_[1]; }
    QPushButton* stopButton() const { return stopBtn_; }
    QPushButton* infoButton() const { return infoBtn_; }
    // The info button whose tag picks that explanation.
    QPushButton* infoButton(int tag) const;
    QLabel* statusField() const { return progressInfoFld_; }
    QLabel* countField() const { return countFld_; }
    QLabel* finalField() const { return finalFld_; }
    QProgressBar* progressBar() const { return spinning_; }
    platform::Popover* popover() const { return popover_; }
    // Instant animations for tests that only care where things end.
    static void setAnimationsInstant(bool instant);
    // The panel's controller while it lives (tests reach its seams here).
    std::shared_ptr<KZRemoveCntrl> cntrl() const { return cntrl_.lock(); }

    // The view side, called by the controller on the GUI thread.
    void setStatus(const QString& text);
    void setCounters(const QString& count, const QString& size);
    void setProgress(double percent);
    void setProgressDeterminate(bool determinate);
    void startSpinning();
    void stopSpinning();
    void setStartEnabled(bool enabled);
    void setStopEnabled(bool enabled);
    void showProgressView();
    void showSuccessfulView(const QString& finalText);
    void closePanel();

    void replacePage(int senderTag);
    void showInfo();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    KZRemovePanelWidget(QWidget* resultView, KZRemovePanelHost* host);
    void installViews();
    void layoutOver();
    void openAnimated();
    void fadeCard(QWidget* card, bool in, int ms);
    QWidget* makeTile(qint16 n);
    QRect topDown(const KZPanelRect& rect, const QWidget* parent) const;
    QRect pageRect(KZPanelPage page, bool outside) const;
    QWidget* makeTrashPage();
    QWidget* makeMovePage();
    // A small round button that explains the option beside it, its tag
    // picking the explanation; a click shows it.
    QPushButton* infoButtonFor(int tag, QWidget* parent);
    // The music library's note on page `which` (0 Trash, 1 move), hidden
    // until there is something to tell.
    QLabel* musicNote(int which, QWidget* page);
    QWidget* makeProgressCard();
    QWidget* makeFinalCard();
    void finishClosing();

    QPointer<QWidget> resultView_;
    KZRemovePanelHost* host_ = nullptr;
    std::weak_ptr<KZRemoveCntrl> cntrl_;
    quint64 ownerTag_ = 0;
    QVariantList viewsToDisable_;

    QWidget* veil_ = nullptr;
    QWidget* mainView_ = nullptr;
    QWidget* layerView_ = nullptr;
    QWidget* firstView_ = nullptr;
    QWidget* trashView_ = nullptr;
    QWidget* moveView_ = nullptr;
    QWidget* progressView_ = nullptr;
    QWidget* finalView_ = nullptr;
    QWidget* notPhotosView_ = nullptr;
    QWidget* movePhotosView_ = nullptr;
    QWidget* photosNotesView_ = nullptr;
    std::array<QLabel*, 2> musicNotes_{}; // on the Trash and the move page
    QLabel* photosNote_ = nullptr;        // on the Trash page
    QWidget* movedSizeView_ = nullptr;
    QWidget* replaceHardLinksView_ = nullptr;
    QLabel* moveViewTitleFld_ = nullptr;
    QLabel* pathFld_ = nullptr;
    QLabel* progressInfoFld_ = nullptr;
    QLabel* countFld_ = nullptr;
    QLabel* sizeFld_ = nullptr;
    QLabel* finalFld_ = nullptr;
    QProgressBar* spinning_ = nullptr;
    std::array<QPushButton*, 2> startBtn_{};
    std::array<QPushButton*, 2> cancelBtn_{};
    QPushButton* closeBtn_ = nullptr;
    QPushButton* stopBtn_ = nullptr;
    QPushButton* infoBtn_ = nullptr;
    QCheckBox* hardLinksCheck_ = nullptr;
    QCheckBox* hardLinksCheck2_ = nullptr;
    QCheckBox* renameCheck_ = nullptr;
    QCheckBox* createFolderCheck_ = nullptr;
    QPointer<platform::Popover> popover_;

    Card card_ = Card::None;
    bool opening_ = false;
    bool closing_ = false;
    bool startEnabled_ = true;
};
