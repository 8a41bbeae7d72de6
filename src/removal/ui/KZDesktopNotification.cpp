#include "removal/ui/KZDesktopNotification.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

bool KZPostDesktopNotification(const QString& title, const QString& body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                                       QStringLiteral("/org/freedesktop/Notifications"),
                                                       QStringLiteral("org.freedesktop.Notifications"),
                                                       QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("sound-name"), QStringLiteral("complete"));
    call << title << quint32(0) << QString() << title << body << QStringList() << hints << qint32(-1);
    // Never waits: a missing or slow service must not hold the GUI thread.
    return bus.send(call);
}
