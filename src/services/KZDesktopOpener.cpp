#include "services/KZDesktopOpener.h"

#include "platform/Log.h"
#include "services/KZErrorDelegate.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <memory>

namespace {

// Main thread only, as every caller is: no lock.
KZDesktopOpener::Launchers& installed()
{
    static KZDesktopOpener::Launchers launchers;
    return launchers;
}

enum class Run {
    Opened,
    Failed,      // the opener ran and found no program for the address
    Unavailable, // no opener to run: the next one is tried
};

// Runs xdg-open and answers once it has ended, or once it has run long
// enough to have started a program. Its messages ("no method available")
// stay on our standard error, where they always went.
void runXdgOpen(const QUrl& url, std::function<void(Run)> answer)
{
    // Looked up first: a missing program is known without a fork.
    const QString program = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (program.isEmpty()) {
        answer(Run::Unavailable);
        return;
    }
    // Not parented: a program that quits meanwhile must not kill the opener
    // (nor the viewer it may be waiting for). It goes once it has ended.
    auto* process = new QProcess;
    process->setProgram(program);
    // The encoded address is plain ASCII, so a file name that is not UTF-8
    // reaches xdg-open byte for byte.
    process->setArguments({QString::fromLatin1(url.toEncoded())});
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    auto shared = std::make_shared<std::function<void(Run)>>(std::move(answer));
    const auto once = [shared](Run outcome) {
        if (!*shared)
            return;
        const auto call = std::move(*shared);
        *shared = nullptr;
        call(outcome);
    };
    QObject::connect(process, &QProcess::finished, process,
                     [process, once, url](int code, QProcess::ExitStatus status) {
                         const bool opened = status == QProcess::NormalExit && code == 0;
                         if (!opened)
                             platform::logLine(QStringLiteral("xdg-open could not open %1 (exit status %2)")
                                                   .arg(url.toDisplayString())
                                                   .arg(code));
                         once(opened ? Run::Opened : Run::Failed);
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process, [process, once](QProcess::ProcessError error) {
        // A crash or a failed wait ends in finished() as well.
        if (error != QProcess::FailedToStart)
            return;
        once(Run::Unavailable);
        process->deleteLater();
    });
    QTimer::singleShot(KZDesktopOpener::kOpenedAfterMs, process, [once] { once(Run::Opened); });
    process->start();
}

} // namespace

void KZDesktopOpener::openWithOutcome(const QUrl& url, OutcomeAnswer answer)
{
    const Launchers launchers = installed();
    auto servicesOrFail = [launchers, url, answer](Run run) {
        Outcome said = run == Run::Opened ? Outcome::Opened : run == Run::Failed ? Outcome::Failed : Outcome::NotFound;
        // The desktop services would only hand the address to the same
        // xdg-open that just failed, and count its start as success.
        if (run == Run::Unavailable
            && (launchers.desktopServices ? launchers.desktopServices(url) : QDesktopServices::openUrl(url)))
            said = Outcome::Opened;
        if (answer)
            answer(said);
    };
    if (launchers.xdgOpen) {
        servicesOrFail(launchers.xdgOpen(url) ? Run::Opened : Run::Unavailable);
        return;
    }
    runXdgOpen(url, std::move(servicesOrFail));
}

void KZDesktopOpener::open(const QUrl& url, Answer answer)
{
    openWithOutcome(url, [answer](KZDesktopOpener::Outcome outcome) {
        if (answer)
            answer(outcome == KZDesktopOpener::Outcome::Opened);
    });
}

void KZDesktopOpener::openOrTell(const QUrl& url, const QString& shownName, const QString& errorKey,
                                 const QString& infoKey, const QString& ranInfoKey)
{
    openWithOutcome(url, [shownName, errorKey, infoKey, ranInfoKey](KZDesktopOpener::Outcome outcome) {
        if (outcome != KZDesktopOpener::Outcome::Opened)
            KZErrorDelegate::sharedControl().showError(
                errorKey, outcome == KZDesktopOpener::Outcome::Failed ? ranInfoKey : infoKey, {shownName});
    });
}

void KZDesktopOpener::openAllOrTell(const QList<Item>& items)
{
    if (items.isEmpty())
        return;
    // Every opener answers in its own time; the alert waits for the last,
    // so that a failing desktop asks the user once, not once per item.
    struct Tally {
        qsizetype waiting = 0;
        QStringList notOpened;
        bool anOpenerRan = false;
    };
    auto tally = std::make_shared<Tally>();
    tally->waiting = items.size();
    for (const Item& item : items) {
        openWithOutcome(item.url, [tally, name = item.shownName](KZDesktopOpener::Outcome outcome) {
            if (outcome != KZDesktopOpener::Outcome::Opened)
                tally->notOpened.append(name);
            if (outcome == KZDesktopOpener::Outcome::Failed)
                tally->anOpenerRan = true;
            if (--tally->waiting > 0 || tally->notOpened.isEmpty())
                return;
            const QString info = tally->anOpenerRan ? QStringLiteral("open_failed_ran_info")
                                                    : QStringLiteral("open_failed_info");
            if (tally->notOpened.size() == 1)
                KZErrorDelegate::sharedControl().showError(QStringLiteral("open_failed"), info, tally->notOpened);
            else
                KZErrorDelegate::sharedControl().showError(QStringLiteral("open_failed_plur"), info,
                                                           {KZErrorDelegate::listOfNames(tally->notOpened)});
        });
    }
}

KZDesktopOpener::Launchers KZDesktopOpener::setLaunchers(Launchers launchers)
{
    std::swap(installed(), launchers);
    return launchers;
}
