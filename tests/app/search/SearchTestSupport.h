#pragma once

#include "platform/NotificationCenter.h"
#include "services/KZAlertPresenter.h"
#include "services/KZErrorDelegate.h"
#include "services/KZFilesUtilities.h"
#include "settings/KZSearchStuff.h"

#include <QStringList>

#include <deque>
#include <memory>
#include <vector>

namespace searchtest {

// Answers alerts from a script (FirstButton when it runs out) and keeps them.
class ScriptedPresenter : public KZAlertPresenter {
public:
    std::vector<Alert> shown;
    std::deque<qint64> answers;

    Answer runModal(const Alert& alert) override
    {
        shown.push_back(alert);
        Answer answer;
        if (!answers.empty()) {
            answer.button = answers.front();
            answers.pop_front();
        }
        return answer;
    }
    void beginSheet(const Alert& alert) override { shown.push_back(alert); }

    int count(const QString& text) const
    {
        int n = 0;
        for (const auto& alert : shown)
            n += alert.messageText.contains(text) || alert.informativeText.contains(text);
        return n;
    }
};

// Installs a scripted presenter, a fresh shared request and no music library
// for one test, and puts them back afterwards.
class AlertScope {
public:
    AlertScope()
    {
        KZErrorDelegate::setSharedControl(nullptr);
        KZErrorDelegate::sharedControl().setPresenter(presenter);
        KZSearchStuff::setSharedControl(nullptr);
        KZFilesUtilities::setiTunesFolderProvider({});
    }
    ~AlertScope()
    {
        KZErrorDelegate::setSharedControl(nullptr);
        KZFilesUtilities::setiTunesFolderProvider({});
    }
    std::shared_ptr<ScriptedPresenter> presenter = std::make_shared<ScriptedPresenter>();
};

// Counts one notification name posted with the bundle identifier.
class PostCounter {
public:
    explicit PostCounter(const QString& name)
        : subscription_(platform::NotificationCenter::defaultCenter().addObserver(
              name, platform::NotificationObject(platform::bundleIdentifier()),
              [this](const platform::Notification&) { ++count; }))
    {
    }
    int count = 0;

private:
    platform::Subscription subscription_;
};

} // namespace searchtest
