#include "app/KZUpdater.h"

#include "preferences/KZURLOpener.h"

#include "platform/Log.h"

KZUpdater& KZUpdater::sharedUpdater()
{
    static KZUpdater updater;
    return updater;
}

QUrl KZUpdater::downloadPage()
{
    return QUrl(QStringLiteral("https://maravex.app/download"));
}

void KZUpdater::checkForUpdates()
{
    if (!KZOpenURL(downloadPage()))
        platform::logLine(QStringLiteral("No program could open ") + downloadPage().toString());
}
