#include "app/search/ui/KZMusicLibraryReadingSheet.h"

#include "platform/StringTable.h"
#include "services/ui/KZGenericProgressWindowCntrl.h"
#include "services/ui/KZLinearProgressIndicatorView.h"
#include "services/ui/KZMenuSet.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

KZMusicLibraryReadingSheet::KZMusicLibraryReadingSheet(QWidget* window, std::function<void()> stop)
    : window_(window ? window->window() : nullptr), stop_(std::move(stop))
{
}

KZMusicLibraryReadingSheet::~KZMusicLibraryReadingSheet()
{
    close();
}

void KZMusicLibraryReadingSheet::show()
{
    if (controller_)
        return;
    controller_ = std::make_unique<KZGenericProgressWindowCntrl>(window_.data());
    KZGenericProgressWindowCntrl* parts = controller_.get();
    parts->window()->setObjectName(QStringLiteral("musicLibraryReadingSheet"));
    parts->infoFld()->setText(platform::localizedString(QStringLiteral("Reading the music library\u2026")));
    // A reading has no count to show: how far the file has come says
    // little of how long its tracks take.
    parts->countTxt()->hide();
    parts->countFld()->hide();
    parts->setIsInderminate(true);
    QObject::connect(parts, &KZGenericProgressWindowCntrl::stopAsked, parts, [this] {
        if (controller_)
            controller_->stopBtn()->setEnabled(false);
        if (stop_)
            stop_();
    });
    // The sheet holds the keyboard while it shows: Quit's keys reach the
    // program from here too (Quit stops the reading as Stop does).
    if (QAction* quit = KZMenuSet::shared().item(KZMenuSet::App, KZMenuSet::QuitTag))
        parts->window()->addAction(quit);
    parts->spinning()->startIndeterminateAnimation();
    parts->window()->setWindowModality(window_ ? Qt::WindowModal : Qt::ApplicationModal);
    parts->window()->open();
}

void KZMusicLibraryReadingSheet::close()
{
    if (!controller_)
        return;
    controller_->spinning()->stopIndeterminateAnimation();
    controller_->window()->close();
    // Stop's own click may be what closes it: the window and its button go
    // once that click has returned.
    controller_.release()->deleteLater();
}
