#include "result/window/ui/KZResultRemovalHost.h"

#include "platform/Paths.h"
#include "services/KZErrorDelegate.h"
#include "services/ui/KZInterfaceUtilities.h"

#include <QUrl>
#include <QVariantList>

KZResultRemovalHost::KZResultRemovalHost(QWidget* window, std::function<void()> purgeMarkingUndo)
    : window_(window)
    , purge_(std::move(purgeMarkingUndo))
{
}

void KZResultRemovalHost::purgeMarkingUndo()
{
    if (purge_)
        purge_();
}

void KZResultRemovalHost::chooseDestination(const std::function<void(const std::filesystem::path&)>& done)
{
    // The destination is a folder that exists already: the move can recreate
    // the items' own folders beneath it, but the chooser makes none.
    QVariantMap settings{{QStringLiteral("canCreateDirectories"), false},
                         {QStringLiteral("allowsMultipleSelection"), false},
                         {QStringLiteral("prompt"), QStringLiteral("ask_move_location")}};
    if (window_)
        settings.insert(QStringLiteral("window"), QVariant::fromValue<QObject*>(window_.data()));
    KZInterfaceUtilities::sharedControl().askForDirectories(
        [done](const QVariant& response, const QVariant& context) {
            const QVariantList urls = context.toList();
            if (response.toInt() != 1 || urls.isEmpty()) {
                done({});
                return;
            }
            done(platform::pathFromText(urls.first().toUrl().toLocalFile()));
        },
        settings);
}

qint64 KZResultRemovalHost::askReportEmptyFolders()
{
    return KZErrorDelegate::sharedControl().askToTheUser(QStringLiteral("ask_for_empty_folder"), QString(), {},
                                                         QStringLiteral("report_button"),
                                                         QStringLiteral("dont_report_button"), QString(), false,
                                                         nullptr, false);
}
