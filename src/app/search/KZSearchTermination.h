#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

// What the end of a search shows, read from the result-info map alone.
namespace KZSearchTermination {

quint64 foundCount(const QVariantMap& info);
// Whether there is a result to show: duplicates, or missing music tracks the
// user asked to have listed.
bool hasResult(const QVariantMap& info);
// The message under "no_items_found": the photo library's own one when it
// was searched and its database could be read, else none.
QString noItemsMessage(const QVariantMap& info);

// The sources that could not be searched at all (damaged saved searches),
// as one text for the alert that says so; empty when every source was
// searched.
QString skippedSources(const QVariantMap& info);

// The alert of a search or a reopened result that ends with nothing to show:
// keys of "Errors" and the names for the first one's places.
struct NothingFoundAlert {
    QString error;
    QString message;
    QStringList names;
};
NothingFoundAlert nothingFoundAlert(const QVariantMap& info);

struct UserNotification {
    QString title;
    QString subtitle;
    QString body;
};
// Whether the end is told by a desktop notification: not for a reopened
// result that shows nothing.
bool hasUserNotification(const QVariantMap& info);
// The desktop notification's texts; `appName` is the title.
UserNotification userNotification(const QVariantMap& info, const QString& appName);
// The notification on one line, for where no notification service shows it:
// its texts in order, the empty ones left out.
QString oneLine(const UserNotification& note);

} // namespace KZSearchTermination
