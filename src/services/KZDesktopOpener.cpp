#include "services/KZDesktopOpener.h"

#include "services/KZErrorDelegate.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>


namespace {

// Main thread only, as every caller is: no lock.
KZDesktopOpener::Launchers& installed()
{
    static KZDesktopOpener::Launchers launchers;
    return launchers;
}

bool startXdgOpen(const QUrl& url)
{
    // Looked up first: startDetached would also report a missing program,
    // but only after a fork.
    const QString program = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (program.isEmpty())
        return false;
    // The encoded address is plain ASCII, so a file name that is not UTF-8
    // reaches xdg-open byte for byte.
    return QProcess::startDetached(program, {QString::fromLatin1(url.toEncoded())});
}

} // namespace

bool KZDesktopOpener::open(const QUrl& url)
{
    const Launchers launchers = installed();
    const auto xdgOpen = launchers.xdgOpen ? launchers.xdgOpen : startXdgOpen;
    if (xdgOpen(url))
        return true;
    return launchers.desktopServices ? launchers.desktopServices(url) : QDesktopServices::openUrl(url);
}

bool KZDesktopOpener::openOrTell(const QUrl& url, const QString& shownName, const QString& errorKey,
                                 const QString& infoKey)
{
    if (open(url))
        return true;
    KZErrorDelegate::sharedControl().showError(errorKey, infoKey, {shownName});
    return false;
}

KZDesktopOpener::Launchers KZDesktopOpener::setLaunchers(Launchers launchers)
{
    std::swap(installed(), launchers);
    return launchers;
}
