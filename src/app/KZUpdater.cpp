#include "app/KZUpdater.h"

#include "preferences/KZURLOpener.h"

#include "platform/Log.h"
#include "services/KZErrorDelegate.h"

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
    KZOpenURL(downloadPage(), [](bool opened) {
        if (opened)
            return;
        // Without a browser the item would seem to do nothing: give the address.
        platform::logLine(QStringLiteral("No program could open ") + downloadPage().toString());
        KZErrorDelegate::sharedControl().showError(QStringLiteral("update_page_unopened"),
                                                   QStringLiteral("update_page_unopened_info"),
                                                   {downloadPage().toString()});
    });
}
