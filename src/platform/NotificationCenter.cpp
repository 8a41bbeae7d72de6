#include "platform/NotificationCenter.h"

#include "platform/Log.h"

#include <QMetaObject>

#include <algorithm>
#include <condition_variable>
#include <thread>

namespace platform {

// One registration. The center's list holds it while it is registered; a
// post holds it only for the time of its delivery. Liveness and the set of
// threads inside the callback live under the entry's own mutex, so that a
// removal can wait for deliveries on other threads without the center's lock,
// and deliveries of one entry on several threads do not serialise (which
// would deadlock callbacks that wait for each other through the main thread).
struct NotificationCenter::Entry {
    QString name;
    NotificationObject object;
    Callback callback;
    const QObject* contextId = nullptr; // identity only, for removeObserver
    QPointer<QObject> context;
    QMetaObject::Connection destroyedConnection; // guarded by State::mutex

    std::mutex deliveryMutex;
    std::condition_variable deliveryDone;
    bool alive = true;
    std::vector<std::thread::id> deliveringThreads;

    bool matches(const QString& postedName, const NotificationObject& postedObject) const
    {
        if (!name.isEmpty() && name != postedName)
            return false;
        return object.isNone() || object == postedObject;
    }

    // Marks the entry dead and waits for deliveries on other threads; a
    // delivery on this thread is the caller itself (a callback removing its
    // own registration) and cannot be waited for.
    void retire()
    {
        const auto self = std::this_thread::get_id();
        std::unique_lock lock(deliveryMutex);
        alive = false;
        deliveryDone.wait(lock, [&] {
            return std::all_of(deliveringThreads.begin(), deliveringThreads.end(),
                               [&](std::thread::id id) { return id == self; });
        });
    }

    void deliver(const Notification& notification)
    {
        const auto self = std::this_thread::get_id();
        {
            std::lock_guard lock(deliveryMutex);
            if (!alive)
                return;
            deliveringThreads.push_back(self);
        }
        struct Leave {
            Entry& entry;
            std::thread::id self;
            ~Leave()
            {
                std::lock_guard lock(entry.deliveryMutex);
                auto& threads = entry.deliveringThreads;
                threads.erase(std::find(threads.begin(), threads.end(), self));
                entry.deliveryDone.notify_all();
            }
        } leave{*this, self};
        // The destroyed() handler normally removes the entry first; the
        // pointer check covers a context dying on another thread meanwhile.
        if (contextId && context.isNull())
            return;
        callback(notification);
    }
};

struct NotificationCenter::State {
    mutable std::mutex mutex;
    std::vector<std::shared_ptr<Entry>> entries;

    void insert(const std::shared_ptr<Entry>& entry)
    {
        std::lock_guard lock(mutex);
        entries.push_back(entry);
    }

    // Takes the entries out of the list; their retirement happens after the
    // lock is released, because it may wait for a callback that is itself
    // posting or registering.
    template <typename Pred>
    std::vector<std::shared_ptr<Entry>> take(Pred pred)
    {
        std::vector<std::shared_ptr<Entry>> taken;
        std::vector<QMetaObject::Connection> connections;
        {
            std::lock_guard lock(mutex);
            auto kept = entries.begin();
            for (auto& e : entries) {
                if (pred(*e)) {
                    connections.push_back(std::exchange(e->destroyedConnection, {}));
                    taken.push_back(std::move(e));
                } else {
                    *kept++ = std::move(e);
                }
            }
            entries.erase(kept, entries.end());
        }
        for (const auto& c : connections)
            QObject::disconnect(c);
        return taken;
    }

    void remove(const std::shared_ptr<Entry>& entry)
    {
        for (const auto& e : take([&](const Entry& candidate) { return &candidate == entry.get(); }))
            e->retire();
        // Also when the list no longer held it (the center went away first).
        entry->retire();
    }

    // For handlers that may run after the center, the entry or both are gone.
    static void removeWeak(const std::weak_ptr<State>& weakState, const std::weak_ptr<Entry>& weakEntry)
    {
        const auto e = weakEntry.lock();
        if (!e)
            return;
        if (const auto s = weakState.lock())
            s->remove(e);
        else
            e->retire();
    }
};

NotificationCenter& NotificationCenter::defaultCenter()
{
    // Never destroyed: singletons and Subscriptions that outlive static
    // destruction still find it.
    static NotificationCenter* center = new NotificationCenter;
    return *center;
}

NotificationCenter::NotificationCenter()
    : state_(std::make_shared<State>())
{
}

NotificationCenter::~NotificationCenter()
{
    for (const auto& e : state_->take([](const Entry&) { return true; }))
        e->retire();
}

Subscription NotificationCenter::addObserver(const QString& name, const NotificationObject& object,
                                             Callback callback)
{
    auto entry = std::make_shared<Entry>();
    entry->name = name;
    entry->object = object;
    entry->callback = std::move(callback);
    state_->insert(entry);
    return Subscription([weakState = std::weak_ptr<State>(state_), weakEntry = std::weak_ptr<Entry>(entry)] {
        State::removeWeak(weakState, weakEntry);
    });
}

void NotificationCenter::addObserver(QObject* context, const QString& name,
                                     const NotificationObject& object, Callback callback)
{
    if (!context) {
        logLine(QStringLiteral("NotificationCenter: observer for \"%1\" has no context object; ignored").arg(name));
        return;
    }
    auto entry = std::make_shared<Entry>();
    entry->name = name;
    entry->object = object;
    entry->callback = std::move(callback);
    entry->contextId = context;
    entry->context = context;
    state_->insert(entry);

    // Direct, so the registration is gone before ~QObject returns, whatever
    // thread the context lives in.
    const auto connection = QObject::connect(
        context, &QObject::destroyed, context,
        [weakState = std::weak_ptr<State>(state_), weakEntry = std::weak_ptr<Entry>(entry)] {
            State::removeWeak(weakState, weakEntry);
        },
        Qt::DirectConnection);

    std::lock_guard lock(state_->mutex);
    const bool stillListed = std::find(state_->entries.begin(), state_->entries.end(), entry)
                             != state_->entries.end();
    if (stillListed)
        entry->destroyedConnection = connection;
    else // removed by another thread in between
        QObject::disconnect(connection);
}

void NotificationCenter::removeObserver(QObject* context, const QString& name,
                                        const NotificationObject& object)
{
    if (!context)
        return;
    const auto taken = state_->take([&](const Entry& e) {
        return e.contextId == context && (name.isEmpty() || e.name == name)
               && (object.isNone() || e.object == object);
    });
    for (const auto& e : taken)
        e->retire();
}

void NotificationCenter::post(const QString& name, const NotificationObject& object,
                              const QVariantMap& userInfo)
{
    if (name.isEmpty()) {
        logLine(QStringLiteral("NotificationCenter: a notification without a name was not posted"));
        return;
    }
    std::vector<std::shared_ptr<Entry>> targets;
    {
        std::lock_guard lock(state_->mutex);
        for (const auto& e : state_->entries) {
            if (e->matches(name, object))
                targets.push_back(e);
        }
    }
    const Notification notification{name, object, userInfo};
    for (const auto& e : targets)
        e->deliver(notification);
}

std::size_t NotificationCenter::observerCount() const
{
    std::lock_guard lock(state_->mutex);
    return state_->entries.size();
}

} // namespace platform
