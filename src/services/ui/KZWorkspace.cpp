#include "services/ui/KZWorkspace.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QUrl>

namespace {

QUrl fileUrl(const std::filesystem::path& path)
{
    return QUrl(KZWorkspace::fileUri(path), QUrl::StrictMode);
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
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
        call << uris << QString();
        // Asked without waiting: a file manager that is slow to start must
        // not freeze the window; without one, the folder is opened instead.
        const QUrl folder = fileUrl(paths.first().parent_path());
        auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, 5000));
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [folder](QDBusPendingCallWatcher* done) {
            if (done->isError())
                QDesktopServices::openUrl(folder);
            done->deleteLater();
        });
    }
    void openItem(const std::filesystem::path& path) override { QDesktopServices::openUrl(fileUrl(path)); }
};

} // namespace

KZWorkspace& KZWorkspace::system()
{
    static SystemWorkspace workspace;
    return workspace;
}

QString KZWorkspace::fileUri(const std::filesystem::path& path)
{
    // Every byte outside the unreserved set and "/" is escaped as it is, so
    // no decoding step can replace a byte of the name.
    const QByteArray bytes(path.native().data(), static_cast<qsizetype>(path.native().size()));
    return QStringLiteral("file://") + QString::fromLatin1(bytes.toPercentEncoding("/"));
}
