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
    // The engine posts to the core under the pointer it was given.
    core_ = std::make_unique<KZSearchProgressCore>(display, nullptr, searchView_.data());
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
    // A new search the user already agreed to (a saved result replacing this
    // one) asks nothing more.
    center.addObserver(this, KZNotification::newSearch, static_cast<const void*>(this),
                       [self](const platform::Notification& note) {
                           const bool agreed = note.userInfo.value(QStringLiteral("resultLossAgreed")).toBool();
                           platform::runOnMain([self, agreed] {
                               if (self)
                                   self->resetAction(!agreed);
                           });
                       });
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

std::shared_ptr<KZProgressControl> KZSearchProgress::engineProgress()
{
    return std::shared_ptr<KZProgressControl>(shared_from_this(), core_.get());
}

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
void KZSearchProgress::resetAction(bool ask) { core_->resetAction(ask); }
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
