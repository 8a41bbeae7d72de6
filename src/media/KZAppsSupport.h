#pragma once

#include "platform/OperationQueue.h"
#include "platform/ProcessWatcher.h"
#include "platform/Subscription.h"

#include <QString>
#include <QVariantMap>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

// The guard over the two applications whose libraries can be searched. It
// asks once per application and run whether the program may quit and reopen
// the application on a library, manages the photo application around that,
// and, while a library is among the sources, watches for the user launching
// or quitting its application: outside a search it asks whether to go on,
// during a search it stops the search.
//
// Applications are recognised by bundle identifier only. Every flag is
// atomic, since the watch reports on its own thread while the search window
// and the removal engine call in from theirs. A wait for an application is a
// condition variable signalled by the process watcher, with a deadline; when
// scripts cannot reach the application (always, on Linux) nothing is waited
// for at all.
class KZAppsSupport {
public:
    static inline const QString photosIdentifier = QStringLiteral("com.apple.Photos");
    static inline const QString iTunesIdentifier = QStringLiteral("com.apple.iTunes");

    // Keys of the manage-options map.
    static inline const QString pathKey = QStringLiteral("path");
    static inline const QString appNameKey = QStringLiteral("appName");
    static inline const QString identifierKey = QStringLiteral("identifier");
    static inline const QString closeFirstKey = QStringLiteral("closeFirst");
    static inline const QString closeAgainKey = QStringLiteral("closeAgain");

    static KZAppsSupport& sharedControl();
    // Tests; nullptr makes the next call build a fresh guard.
    static void setSharedControl(std::unique_ptr<KZAppsSupport> guard);

    // `watcher` null: the platform's shared watcher.
    explicit KZAppsSupport(platform::ProcessWatcher* watcher = nullptr);
    ~KZAppsSupport();
    KZAppsSupport(const KZAppsSupport&) = delete;
    KZAppsSupport& operator=(const KZAppsSupport&) = delete;

    // The watch of launches and quits.
    void addObservers();
    void removeObservers();
    bool isObserving() const;

    bool isAnSupportedAppWithIdentifier(const QString& identifier) const;
    // The watch's reaction, on the caller's thread.
    void appLaunched(const platform::ProcessEvent& event);
    void appTerminated(const platform::ProcessEvent& event);

    // Answers whether the user allows managing the application. Where no
    // application can be reached (Linux) nothing is asked and the answer is
    // yes: managing then does nothing.
    bool askToManageAppWithIndentifier(const QString& identifier, const QVariantMap& manageOptions);
    // Answers whether the application could be reached at all (never on
    // Linux); only then was anything waited for.
    bool manageAppWithDict(const QVariantMap& manageOptions);
    // Quits the photo application and opens it again on `library`, with the
    // watch paused so that our own quit and launch are not taken for the
    // user's. Answers as manageAppWithDict does.
    bool reopenPhotosOnLibrary(const QString& library);
    // Each answers false after showing the time-out message.
    bool waitUntilAppIsOpened(const QString& identifier);
    bool waitUntilAppIsClosed(const QString& identifier);
    void showAbortedErrorForClosed(bool closing, const QString& identifier);

    bool alertIsShowed() const { return alertIsShowed_.load(); }
    void setAlertIsShowed(bool value) { alertIsShowed_.store(value); }
    bool photosIsInSource() const { return photosIsInSource_.load(); }
    void setPhotosIsInSource(bool value) { photosIsInSource_.store(value); }
    bool iTunesIsInSource() const { return iTunesIsInSource_.load(); }
    void setiTunesIsInSource(bool value) { iTunesIsInSource_.store(value); }
    bool managePhotosWasAsked() const { return managePhotosWasAsked_.load(); }
    bool manageiTunesWasAsked() const { return manageiTunesWasAsked_.load(); }

    // How long a wait lasts (90 s; tests shorten it).
    void setWaitLimit(std::chrono::milliseconds limit) { waitLimitMs_.store(limit.count()); }

    // Watch reactions handed off the watcher's thread finish (tests).
    void waitForWatchReactions();

private:
    void watchEvent(const platform::ProcessEvent& event, bool launched);
    platform::ProcessWatcher& watcher() const;
    QString displayName(const QString& identifier, const QString& fallback) const;
    // One wait with its own subscription to the watcher, until the
    // application has launched or (closing) quit, or the deadline.
    bool waitFor(const QString& identifier, bool closing);
    // Quits the application and waits for it, unless scripts cannot reach it.
    void quitAndWait(const QString& appName, const QString& identifier);

    platform::ProcessWatcher* const watcher_;
    std::atomic<bool> alertIsShowed_{false};
    std::atomic<bool> photosIsInSource_{false};
    std::atomic<bool> iTunesIsInSource_{false};
    std::atomic<bool> managePhotosWasAsked_{false};
    std::atomic<bool> manageiTunesWasAsked_{false};
    std::atomic<qint64> waitLimitMs_{90000};

    mutable std::mutex watchMutex_;
    platform::Subscription watch_;
    // The watch's questions wait for the user; they run here, so the
    // watcher's thread never waits for the main thread. Not one at a time:
    // a launch while a question is on screen must see that it is.
    platform::OperationQueue reactions_{QStringLiteral("KZAppsSupport")};
};
