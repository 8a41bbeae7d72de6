#pragma once

// What the command-line tools share: Ctrl-C as their Stop button, counters
// for the terminal, a reader that names each file it cannot read once, and a
// search run to its end on the tool's own event loop.

#include "engine/KZContentReader.h"
#include "engine/KZProgressControl.h"
#include "engine/KZSearchController.h"
#include "platform/FileStat.h"
#include "platform/NotificationCenter.h"
#include "platform/OperationQueue.h"
#include "settings/KZNotificationNames.h"
#include "settings/KZSearchStuff.h"

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unistd.h>

namespace consolesearch {

inline volatile std::sig_atomic_t g_interrupted = 0;

inline void onInterrupt(int)
{
    g_interrupted = 1;
}

// The first Ctrl-C stops the search; a second ends the program at once.
inline void stopOnInterrupt()
{
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
}

inline QString str(const char* text)
{
    return QString::fromLatin1(text);
}

// Counters for the terminal; the engine's threads write them, a timer on the
// main thread shows them.
class ConsoleProgress : public KZProgressControl {
public:
    bool wasStopped() const override { return g_interrupted != 0; }
    void prepareToSearch(const QVariantMap&) override {}
    void setFoundSize(quint64 size) override { foundSize = size; }
    void setFoundCount(quint64 count) override { foundCount = count; }
    void setCheckedCount(quint64 count) override { checkedCount = count; }
    void setItemsToCheckCount(quint64 count) override { itemsToCheck = count; }
    void setIsSearching(bool) override {}

    void show() const
    {
        std::fprintf(stderr, "\rto check %llu, checked %llu, found %llu (%llu bytes)   ",
                     static_cast<unsigned long long>(itemsToCheck.load()),
                     static_cast<unsigned long long>(checkedCount.load()),
                     static_cast<unsigned long long>(foundCount.load()),
                     static_cast<unsigned long long>(foundSize.load()));
    }

    std::atomic<quint64> foundSize{0};
    std::atomic<quint64> foundCount{0};
    std::atomic<quint64> checkedCount{0};
    std::atomic<quint64> itemsToCheck{0};
};

// The facts of a source named on the command line, or nothing after telling
// `complain` why it cannot be searched.
inline std::optional<platform::FileStat> sourceFacts(const std::filesystem::path& path,
                                                    void (*complain)(const std::string&))
{
    int error = 0;
    std::optional<platform::FileStat> st = platform::statPath(path, true, &error);
    if (!st)
        complain(path.native() + ": " + std::strerror(error));
    return st;
}

// Reads through the file system and tells `complain` once per file when a
// file that a comparison needs cannot be read.
class ReportingReader : public KZContentReader {
public:
    explicit ReportingReader(void (*complain)(const std::string&)) : complain_(complain) {}

    std::unique_ptr<File> open(const std::filesystem::path& path) override
    {
        errno = 0;
        std::unique_ptr<File> file = KZContentReader::fileSystem().open(path);
        // A symbolic link is never followed, so it has no content to read;
        // saying so for every link would drown the real failures.
        if (!file && errno != ELOOP) {
            const int error = errno;
            std::lock_guard guard(lock_);
            if (reported_.insert(path.native()).second)
                complain_("cannot read " + path.native() + ": "
                          + (error ? std::string(std::strerror(error)) : std::string("not a regular file")));
        }
        return file;
    }

private:
    void (*complain_)(const std::string&);
    std::mutex lock_;
    std::set<std::string> reported_;
};

// Runs the search of `stuff` to its end and answers what it posted when it
// ended; the counters show on a terminal while it runs.
inline QVariantMap runSearch(QCoreApplication& app, const KZSearchStuffRef& stuff, KZContentReader& reader,
                             const std::shared_ptr<ConsoleProgress>& progress)
{
    static int senderTag = 0;
    QVariantMap result;
    std::mutex resultLock;
    platform::Subscription subscription = platform::NotificationCenter::defaultCenter().addObserver(
        KZNotification::searchDidTerminate, platform::NotificationObject(&senderTag),
        [&](const platform::Notification& note) {
            {
                std::lock_guard guard(resultLock);
                result = note.userInfo;
            }
            QMetaObject::invokeMethod(&app, [&app] { app.quit(); }, Qt::QueuedConnection);
        });

    const bool showProgress = ::isatty(STDERR_FILENO);
    QTimer ticker;
    ticker.setInterval(100);
    QObject::connect(&ticker, &QTimer::timeout, &app, [&] {
        if (showProgress)
            progress->show();
    });
    ticker.start();
    {
        auto controller = KZSearchController::create(stuff, &senderTag, progress);
        controller->setContentReader(&reader);
        controller->startToSearch();
    }
    app.exec();
    ticker.stop();
    KZSearchOperationQueue().waitUntilAllOperationsAreFinished();
    if (showProgress)
        std::fputs("\n", stderr);
    std::lock_guard guard(resultLock);
    return result;
}

} // namespace consolesearch
