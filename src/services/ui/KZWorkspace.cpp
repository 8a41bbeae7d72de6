#include "services/ui/KZWorkspace.h"

#include "platform/Paths.h"
#include "services/KZDesktopOpener.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QUrl>


namespace {

QUrl fileUrl(const std::filesystem::path& path)
{
    return QUrl(KZWorkspace::fileUri(path), QUrl::StrictMode);
}

// What an alert calls an item: its name, or the whole path for "/".
QString shownName(const std::filesystem::path& path)
{
    const std::filesystem::path name = path.filename();
    return platform::pathText(name.empty() ? path : name);
}

void revealOnBus(const QStringList& uris, const std::function<void(bool)>& done)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        done(false);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << uris << QString();
    // Asked without waiting: a file manager that is slow to start must not
    // freeze the window.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [done](QDBusPendingCallWatcher* answered) {
        done(!answered->isError());
        answered->deleteLater();
    });
}

KZWorkspace::Reveal& installedReveal()
{
    static KZWorkspace::Reveal reveal;
    return reveal;
}

class SystemWorkspace : public KZWorkspace {
public:
    void revealItems(const QList<std::filesystem::path>& paths) override
    {
        if (paths.isEmpty())
            return;
        QStringList uris;
        for (const auto& path : paths)
            uris << fileUri(path);
        const Reveal reveal = installedReveal();
        // Without a file manager on the bus the folder is opened instead,
        // and the user hears of it when nothing can open that either.
        const std::filesystem::path first = paths.first();
        const auto fallBack = [first](bool shown) {
            if (!shown)
                KZDesktopOpener::openOrTell(fileUrl(first.parent_path()), shownName(first),
                                            QStringLiteral("reveal_failed"), QStringLiteral("reveal_failed_info"),
                                            QStringLiteral("reveal_failed_ran_info"));
        };
        if (reveal)
            reveal(uris, fallBack);
        else
            revealOnBus(uris, fallBack);
    }
    void openItem(const std::filesystem::path& path) override { openItems({path}); }
    void openItems(const QList<std::filesystem::path>& paths) override
    {
        // Copies share their names: among several, each is named by its path.
        QList<KZDesktopOpener::Item> items;
        for (const auto& path : paths)
            items.append({fileUrl(path), paths.size() > 1 ? platform::pathText(path) : shownName(path)});
        KZDesktopOpener::openAllOrTell(items);
    }
};

} // namespace

KZWorkspace& KZWorkspace::system()
{
    static SystemWorkspace workspace;
    return workspace;
}

void KZWorkspace::setFileManagerReveal(Reveal reveal)
{
    installedReveal() = std::move(reveal);
}

QString KZWorkspace::fileUri(const std::filesystem::path& path)
{
    // Every byte outside the unreserved set and "/" is escaped as it is, so
    // no decoding step can replace a byte of the name.
    const QByteArray bytes(path.native().data(), static_cast<qsizetype>(path.native().size()));
    return QStringLiteral("file://") + QString::fromLatin1(bytes.toPercentEncoding("/"));
}
