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

enum class Outcome {
    Opened,
    Failed,      // the opener ran and found no program for the address
    Unavailable, // no opener to run: the next one is tried
};

// Runs xdg-open and answers once it has ended, or once it has run long
// enough to have started a program. Its messages ("no method available")
// stay on our standard error, where they always went.
void runXdgOpen(const QUrl& url, std::function<void(Outcome)> answer)
{
    // Looked up first: a missing program is known without a fork.
    const QString program = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (program.isEmpty()) {
        answer(Outcome::Unavailable);
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
    auto shared = std::make_shared<std::function<void(Outcome)>>(std::move(answer));
    const auto once = [shared](Outcome outcome) {
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
                         once(opened ? Outcome::Opened : Outcome::Failed);
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process, [process, once](QProcess::ProcessError error) {
        // A crash or a failed wait ends in finished() as well.
        if (error != QProcess::FailedToStart)
            return;
        once(Outcome::Unavailable);
        process->deleteLater();
    });
    QTimer::singleShot(KZDesktopOpener::kOpenedAfterMs, process, [once] { once(Outcome::Opened); });
    process->start();
}

} // namespace

void KZDesktopOpener::open(const QUrl& url, Answer answer)
{
    const Launchers launchers = installed();
    auto servicesOrFail = [launchers, url, answer](Outcome outcome) {
        bool opened = outcome == Outcome::Opened;
        // The desktop services would only hand the address to the same
        // xdg-open that just failed, and count its start as success.
        if (outcome == Outcome::Unavailable)
            opened = launchers.desktopServices ? launchers.desktopServices(url) : QDesktopServices::openUrl(url);
        if (answer)
            answer(opened);
    };
    if (launchers.xdgOpen) {
        servicesOrFail(launchers.xdgOpen(url) ? Outcome::Opened : Outcome::Unavailable);
        return;
    }
    runXdgOpen(url, std::move(servicesOrFail));
}

void KZDesktopOpener::openOrTell(const QUrl& url, const QString& shownName, const QString& errorKey,
                                 const QString& infoKey)
{
    open(url, [shownName, errorKey, infoKey](bool opened) {
        if (!opened)
            KZErrorDelegate::sharedControl().showError(errorKey, infoKey, {shownName});
    });
}

KZDesktopOpener::Launchers KZDesktopOpener::setLaunchers(Launchers launchers)
{
    std::swap(installed(), launchers);
    return launchers;
}
