#pragma once

#include "platform/Subscription.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <variant>
#include <vector>

namespace platform {

// What a notification is about. Strings (the bundle identifier "Maravex")
// and numbers compare by value, pointers by identity. The empty object, when
// used to register, means "any object"; when posted, "no object".
class NotificationObject {
public:
    NotificationObject() = default;
    NotificationObject(std::nullptr_t) {} // NOLINT: nil, as in "no object"
    NotificationObject(const QString& s) : value_(s) {} // NOLINT: implicit by design
    NotificationObject(const char16_t* s) : value_(QString::fromUtf16(s)) {} // NOLINT
    // A null pointer is "no object", never a pointer that equals other nulls.
    NotificationObject(const void* p) { if (p) value_ = p; } // NOLINT
    // A narrow literal would otherwise turn silently into a pointer compared
    // by identity; spell strings as QString or u"...".
    NotificationObject(const char*) = delete;
    static NotificationObject number(qint64 n) { NotificationObject o; o.value_ = n; return o; }

    bool isNone() const { return std::holds_alternative<std::monostate>(value_); }
    bool operator==(const NotificationObject& other) const = default;

    const void* pointer() const { auto p = std::get_if<const void*>(&value_); return p ? *p : nullptr; }
    QString string() const { auto p = std::get_if<QString>(&value_); return p ? *p : QString(); }

private:
    std::variant<std::monostate, QString, const void*, qint64> value_;
};

struct Notification {
    QString name;
    NotificationObject object;
    QVariantMap userInfo;
};

// Named notifications with Foundation's semantics: delivery is synchronous on
// the posting thread in registration order; registrations are not merged; an
// observer registered for an object gets only posts with an equal object, one
// registered for no object gets every post of the name; an empty name matches
// every name.
//
// Any thread may post, add and remove at any time, and a callback may do all
// three re-entrantly. Removing a registration waits until deliveries of it on
// other threads have returned, so that its captures can be destroyed right
// after; a callback must therefore not block on the thread that removes it
// (for instance with runOnMainAndWait while the main thread cancels it).
// A QObject context posted to from other threads should call
// removeObserver(this) in its destructor: its destroyed() signal comes only
// after the derived parts are gone.
class NotificationCenter {
public:
    using Callback = std::function<void(const Notification&)>;

    static NotificationCenter& defaultCenter();

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // The registration lasts as long as the returned Subscription.
    [[nodiscard]] Subscription addObserver(const QString& name, const NotificationObject& object,
                                           Callback callback);
    // The registration lasts as long as `context`; it is also removed by
    // removeObserver(context, ...).
    void addObserver(QObject* context, const QString& name, const NotificationObject& object,
                     Callback callback);
    // Removes every registration of `context` that matches the name (empty:
    // any) and object (none: any).
    void removeObserver(QObject* context, const QString& name = {},
                        const NotificationObject& object = {});

    void post(const QString& name, const NotificationObject& object = {},
              const QVariantMap& userInfo = {});
    void post(const Notification& notification) { post(notification.name, notification.object, notification.userInfo); }

    // Registrations currently in place.
    std::size_t observerCount() const;

private:
    struct Entry;
    // Shared with the Subscriptions, so that one outliving the center is harmless.
    struct State;

    std::shared_ptr<State> state_;
};

// The application's bundle identifier, the object of most in-process
// notifications.
inline const QString& bundleIdentifier()
{
    static const QString id = QStringLiteral("Maravex");
    return id;
}

} // namespace platform
