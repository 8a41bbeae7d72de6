#include "app/progress/ui/KZSearchProgress.h"

#include "app/progress/KZSearchProgressCore.h"
#include "app/progress/ui/KZSearchProgressExtraInfoCntrl.h"
#include "app/progress/ui/KZSearchProgressWindow.h"
#include "app/ui/KZMaravexApp.h"
#include "platform/MainThread.h"
#include "platform/NotificationCenter.h"
#include "settings/KZNotificationNames.h"

#include <QApplication>

std::shared_ptr<KZSearchProgress> KZSearchProgress::create(QWidget* searchView, bool allowInterface)
{
    // Widgets die on the GUI thread, whichever owner lets go last.
    std::shared_ptr<KZSearchProgress> progress(new KZSearchProgress(searchView, allowInterface),
                                               [](KZSearchProgress* p) {
                                                   if (platform::isMainThread())
                                                       delete p;
                                                   else
                                                       p->deleteLater();
                                               });
    progress->initialize();
    return progress;
}

KZSearchProgress::KZSearchProgress(QWidget* searchView, bool allowInterface)
    : searchView_(searchView), allowInterface_(allowInterface)
{
}

void KZSearchProgress::initialize()
{
    KZSearchProgressDisplay* display = nullptr;
    if (searchView_ && allowInterface_) {
        window_ = new KZSearchProgressWindow(*this, searchView_);
        display = window_;
    }
    core_ = std::make_unique<KZSearchProgressCore>(display, static_cast<const KZProgressControl*>(this),
                                                   searchView_.data());
    if (!window_)
        return;

    // Every observer hops to the GUI thread itself: these may be posted from
    // anywhere, and the controller may be gone by the time the hop lands.
    auto& center = platform::NotificationCenter::defaultCenter();
    QPointer<KZSearchProgress> self(this);
    auto onMain = [self](std::function<void(KZSearchProgress&)> work) {
        return [self, work](const platform::Notification&) {
            platform::runOnMain([self, work] {
                if (self)
                    work(*self);
            });
        };
    };
    center.addObserver(this, KZNotification::updatefileTypeInfo, platform::bundleIdentifier(),
                       [self](const platform::Notification& note) {
                           const QVariantMap info = note.userInfo;
                           platform::runOnMain([self, info] {
                               if (self && self->window_)
                                   self->window_->fileTypeExtraInfoCntrl()->showInfoWithItem(info);
                           });
                       });
    center.addObserver(this, KZNotification::showResultWithTag, platform::bundleIdentifier(),
                       [self](const platform::Notification& note) {
                           const quint64 tag = note.userInfo.value(QStringLiteral("tag")).toULongLong();
                           platform::runOnMain([self, tag] {
                               if (self)
                                   self->showResultWithFileTypeTag(tag);
                           });
                       });
    center.addObserver(this, KZNotification::newSearch, static_cast<const void*>(this),
                       onMain([](KZSearchProgress& p) { p.resetAction(); }));
    center.addObserver(this, QStringLiteral("updateReduceTransparence"), platform::bundleIdentifier(),
                       onMain([](KZSearchProgress& p) {
                           if (p.window_)
                               p.window_->update();
                       }));
}

KZSearchProgress::~KZSearchProgress()
{
    platform::NotificationCenter::defaultCenter().removeObserver(this);
    core_.reset();
    delete window_.data();
}

bool KZSearchProgress::wasStopped() const { return core_->wasStopped(); }
void KZSearchProgress::prepareToSearch(const QVariantMap& options) { core_->prepareToSearch(options); }
void KZSearchProgress::setIsSearching(bool searching) { core_->setIsSearching(searching); }
void KZSearchProgress::setFoundSize(quint64 size) { core_->setFoundSize(size); }
void KZSearchProgress::setFoundCount(quint64 count) { core_->setFoundCount(count); }
void KZSearchProgress::setCheckedCount(quint64 count) { core_->setCheckedCount(count); }
void KZSearchProgress::setItemsToCheckCount(quint64 count) { core_->setItemsToCheckCount(count); }
void KZSearchProgress::prepareToSearchForFoldersContent() { core_->prepareToSearchForFoldersContent(); }
void KZSearchProgress::allowsShowResult() { core_->allowsShowResult(); }
void KZSearchProgress::setMainInfoTitle(const QString& title) { core_->setMainInfoTitle(title); }
void KZSearchProgress::showDeterminateProgress() { core_->showDeterminateProgress(); }
void KZSearchProgress::showFolderView(bool show) { core_->showFolderView(show); }
void KZSearchProgress::initializeFoldersProgressWithTotValue(quint64 total) { core_->initializeFoldersProgressWithTotValue(total); }
void KZSearchProgress::setFolderSizeValue(quint64 size) { core_->setFolderSizeValue(size); }
void KZSearchProgress::addCurrFoldersValue(quint64 count) { core_->addCurrFoldersValue(count); }
void KZSearchProgress::setFoundItemFileType(const KZSearchItemInfo& item) { core_->setFoundItemFileType(item); }
QVariantMap KZSearchProgress::fileTypes() const { return core_->fileTypes(); }

bool KZSearchProgress::isSearching() const { return core_->isSearching(); }
bool KZSearchProgress::stoppedDueAnError() const { return core_->stoppedDueAnError(); }
bool KZSearchProgress::resultIsReady() const { return core_->resultIsReady(); }
quint64 KZSearchProgress::itemsToCheckCount() const { return core_->itemsToCheckCount(); }
QWidget* KZSearchProgress::window() const { return window_; }
QWidget* KZSearchProgress::searchView() const { return searchView_; }
KZSearchProgressWindow* KZSearchProgress::progressWindow() const { return window_; }

void KZSearchProgress::setSavedProgress(const QVariantMap& resultInfo) { core_->setSavedProgress(resultInfo); }
void KZSearchProgress::stopAction() { core_->stopAction(); }
void KZSearchProgress::showResultAction() { showResultWithFileTypeTag(0); }
void KZSearchProgress::resetAction() { core_->resetAction(); }
bool KZSearchProgress::windowShouldClose() const { return !core_->isSearching(); }

void KZSearchProgress::showResultWithFileTypeTag(quint64 tag)
{
    core_->showResultWithFileTypeTag(tag, window_, window_ ? window_->mainView() : nullptr);
}

void KZSearchProgress::closeAction()
{
    if (!windowShouldClose()) {
        QApplication::beep();
        return;
    }
    if (core_->closeAction() && window_) {
        if (KZMaravexApp* app = KZMaravexApp::sharedDelegate())
            app->closeAppWindow(window_);
        else
            window_->close();
    }
}
