#include "platform/NotificationCenter.h"
#include "support/TestSupport.h"

#include <QObject>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

using platform::Notification;
using platform::NotificationCenter;
using platform::NotificationObject;
using platform::Subscription;

namespace {

const QString kName = QStringLiteral("searchDidTerminate");

using kztest::Gate;

TEST(NotificationCenterTest, DeliversSynchronouslyInRegistrationOrderWithUserInfo)
{
    NotificationCenter center;
    std::vector<int> calls;
    QVariantMap seen;
    auto a = center.addObserver(kName, {}, [&](const Notification& n) { calls.push_back(1); seen = n.userInfo; });
    auto b = center.addObserver(kName, {}, [&](const Notification&) { calls.push_back(2); });
    auto c = center.addObserver(kName, {}, [&](const Notification&) { calls.push_back(3); });

    center.post(kName, platform::bundleIdentifier(), {{QStringLiteral("continue"), true}});

    EXPECT_EQ(calls, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(seen.value(QStringLiteral("continue")), QVariant(true));
}

TEST(NotificationCenterTest, RunsOnThePostingThread)
{
    NotificationCenter center;
    std::thread::id deliveredOn;
    auto sub = center.addObserver(kName, {}, [&](const Notification&) { deliveredOn = std::this_thread::get_id(); });
    std::thread::id posterId;
    std::thread poster([&] {
        posterId = std::this_thread::get_id();
        center.post(kName);
    });
    poster.join();
    EXPECT_EQ(deliveredOn, posterId);
}

TEST(NotificationCenterTest, ObjectFiltering)
{
    int a = 0;
    int b = 0;
    const NotificationObject none;
    const NotificationObject bundle = platform::bundleIdentifier();
    // A copy made elsewhere: strings compare by value, not by instance.
    const NotificationObject bundleCopy = QString(QString::fromUtf8("Mara") + QStringLiteral("vex"));
    const NotificationObject other = QStringLiteral("com.apple.Photos");
    const NotificationObject ptrA = &a;
    const NotificationObject ptrB = &b;
    const NotificationObject five = NotificationObject::number(5);
    const NotificationObject six = NotificationObject::number(6);
    const NotificationObject fivePtr = reinterpret_cast<const void*>(quintptr(5));
    const NotificationObject nullPtr = static_cast<const void*>(nullptr);

    struct Row {
        const char* what;
        NotificationObject registered;
        NotificationObject posted;
        bool delivered;
    };
    const Row rows[] = {
        {"any object gets a post without object", none, none, true},
        {"any object gets a post with a string", none, bundle, true},
        {"any object gets a post with a pointer", none, ptrA, true},
        {"string gets an equal string", bundle, bundleCopy, true},
        {"string does not get another string", bundle, other, false},
        {"string does not get a post without object", bundle, none, false},
        {"pointer gets the same pointer", ptrA, ptrA, true},
        {"pointer does not get another pointer", ptrA, ptrB, false},
        {"pointer does not get a post without object", ptrA, none, false},
        {"number gets an equal number", five, NotificationObject::number(5), true},
        {"number does not get another number", five, six, false},
        {"number is not a pointer of the same value", five, fivePtr, false},
        {"number is not its text", five, NotificationObject(QStringLiteral("5")), false},
        {"null pointer registers for any object", nullPtr, bundle, true},
        {"null pointer posts as no object", ptrA, nullPtr, false},
        {"nullptr posts as no object", none, NotificationObject(nullptr), true},
    };
    for (const Row& row : rows) {
        NotificationCenter center;
        int calls = 0;
        auto sub = center.addObserver(kName, row.registered, [&](const Notification&) { ++calls; });
        center.post(kName, row.posted);
        EXPECT_EQ(calls, row.delivered ? 1 : 0) << row.what;
    }
}

TEST(NotificationCenterTest, NameMatching)
{
    NotificationCenter center;
    int named = 0;
    int anyName = 0;
    auto a = center.addObserver(kName, {}, [&](const Notification&) { ++named; });
    auto b = center.addObserver({}, {}, [&](const Notification&) { ++anyName; });

    center.post(kName);
    center.post(QStringLiteral("appWasOpened"));
    center.post(QString()); // refused: there is nothing to match it against

    EXPECT_EQ(named, 1);
    EXPECT_EQ(anyName, 2);
}

TEST(NotificationCenterTest, DuplicateRegistrationsAreCalledTwiceAndRemovedTogether)
{
    NotificationCenter center;
    QObject context;
    int calls = 0;
    center.addObserver(&context, kName, platform::bundleIdentifier(), [&](const Notification&) { ++calls; });
    center.addObserver(&context, kName, platform::bundleIdentifier(), [&](const Notification&) { ++calls; });
    center.post(kName, platform::bundleIdentifier());
    EXPECT_EQ(calls, 2);

    center.removeObserver(&context, kName);
    center.post(kName, platform::bundleIdentifier());
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(center.observerCount(), 0u);
}

TEST(NotificationCenterTest, RemoveObserverTakesOnlyMatchingRegistrations)
{
    const QString other = QStringLiteral("tabsAnimationDidEnd");
    int pointee = 0;
    struct Row {
        const char* what;
        QString name;
        NotificationObject object;
        // Which of the four registrations below survive.
        std::vector<int> left;
    };
    const Row rows[] = {
        {"everything", {}, {}, {}},
        {"one name, any object", kName, {}, {2, 3}},
        {"one name and object", kName, platform::bundleIdentifier(), {0, 2, 3}},
        {"any name, one object", {}, platform::bundleIdentifier(), {0, 2}},
        {"a pointer object", {}, &pointee, {0, 1, 3}},
        {"a name nobody registered", QStringLiteral("nothing"), {}, {0, 1, 2, 3}},
    };
    for (const Row& row : rows) {
        NotificationCenter center;
        QObject context;
        QObject bystander;
        std::vector<int> called;
        const auto record = [&](int i) { return [&called, i](const Notification&) { called.push_back(i); }; };
        center.addObserver(&context, kName, {}, record(0));
        center.addObserver(&context, kName, platform::bundleIdentifier(), record(1));
        center.addObserver(&context, {}, &pointee, record(2));
        center.addObserver(&context, other, platform::bundleIdentifier(), record(3));
        center.addObserver(&bystander, kName, {}, record(9));

        center.removeObserver(&context, row.name, row.object);

        center.post(kName, platform::bundleIdentifier());
        center.post(other, platform::bundleIdentifier());
        center.post(kName, &pointee);
        std::sort(called.begin(), called.end());
        called.erase(std::unique(called.begin(), called.end()), called.end());
        auto expected = row.left;
        expected.push_back(9);
        EXPECT_EQ(called, expected) << row.what;
    }
}

TEST(NotificationCenterTest, SubscriptionEndsTheRegistration)
{
    NotificationCenter center;
    int calls = 0;
    {
        auto sub = center.addObserver(kName, {}, [&](const Notification&) { ++calls; });
        EXPECT_EQ(center.observerCount(), 1u);
        center.post(kName);
    }
    center.post(kName);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(center.observerCount(), 0u);

    auto moved = center.addObserver(kName, {}, [&](const Notification&) { ++calls; });
    Subscription target = std::move(moved);
    EXPECT_FALSE(moved.isActive());
    center.post(kName);
    EXPECT_EQ(calls, 2);
    target = Subscription();
    center.post(kName);
    EXPECT_EQ(calls, 2);
}

TEST(NotificationCenterTest, SubscriptionOutlivingItsCenterIsHarmless)
{
    Subscription sub;
    {
        NotificationCenter center;
        sub = center.addObserver(kName, {}, [](const Notification&) {});
    }
    sub.cancel();
    EXPECT_FALSE(sub.isActive());
}

TEST(NotificationCenterTest, DestroyedContextIsNeverCalled)
{
    NotificationCenter center;
    int calls = 0;
    auto* context = new QObject;
    center.addObserver(context, kName, {}, [&](const Notification&) { ++calls; });
    delete context;
    EXPECT_EQ(center.observerCount(), 0u);
    center.post(kName);
    EXPECT_EQ(calls, 0);
}

TEST(NotificationCenterTest, ContextOutlivingItsCenterIsHarmless)
{
    QObject context;
    {
        NotificationCenter center;
        center.addObserver(&context, kName, {}, [](const Notification&) {});
    }
    // Destroying the context now must not reach the dead center.
}

TEST(NotificationCenterTest, ObserverRemovedByAnEarlierCallbackIsSkipped)
{
    NotificationCenter center;
    std::vector<int> calls;
    auto* laterContext = new QObject;
    Subscription later;
    auto first = center.addObserver(kName, {}, [&](const Notification&) {
        calls.push_back(1);
        later.cancel();
        delete laterContext;
    });
    later = center.addObserver(kName, {}, [&](const Notification&) { calls.push_back(2); });
    center.addObserver(laterContext, kName, {}, [&](const Notification&) { calls.push_back(3); });
    auto last = center.addObserver(kName, {}, [&](const Notification&) { calls.push_back(4); });

    center.post(kName);
    EXPECT_EQ(calls, (std::vector<int>{1, 4}));
}

TEST(NotificationCenterTest, CallbacksMayPostAddAndRemoveReentrantly)
{
    NotificationCenter center;
    const QString inner = QStringLiteral("removeObservers");
    std::vector<QString> log;
    Subscription self;
    Subscription added;
    int depth = 0;
    auto innerSub = center.addObserver(inner, {}, [&](const Notification& n) { log.push_back(n.name); });
    self = center.addObserver(kName, {}, [&](const Notification& n) {
        log.push_back(n.name);
        if (++depth > 1)
            return;
        center.post(inner);
        center.post(kName); // recursion into this very callback
        added = center.addObserver(kName, {}, [&](const Notification&) { log.push_back(QStringLiteral("added")); });
        self.cancel(); // must not wait for itself
    });

    center.post(kName);
    EXPECT_EQ(log, (std::vector<QString>{kName, inner, kName}));

    // The observer added during the post was not part of it, but is now.
    log.clear();
    center.post(kName);
    EXPECT_EQ(log, (std::vector<QString>{QStringLiteral("added")}));
}

TEST(NotificationCenterTest, CancelWaitsForADeliveryOnAnotherThread)
{
    NotificationCenter center;
    Gate entered;
    Gate cancelStarted;
    std::atomic<bool> callbackFinished{false};
    auto sub = center.addObserver(kName, {}, [&](const Notification&) {
        entered.open();
        cancelStarted.wait();
        // Give the canceller time to be inside cancel(); the check below
        // holds either way.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        callbackFinished = true;
    });
    std::thread poster([&] { center.post(kName); });
    ASSERT_TRUE(entered.wait());
    cancelStarted.open();
    sub.cancel();
    EXPECT_TRUE(callbackFinished);
    poster.join();
}

TEST(NotificationCenterTest, DeliveriesOfOneObserverOnTwoThreadsDoNotSerialise)
{
    // Each delivery waits until the other has started; serialised deliveries
    // would never both get there.
    NotificationCenter center;
    std::mutex mutex;
    std::condition_variable cv;
    int inside = 0;
    std::atomic<int> met{0};
    auto sub = center.addObserver(kName, {}, [&](const Notification&) {
        std::unique_lock lock(mutex);
        ++inside;
        cv.notify_all();
        if (cv.wait_for(lock, std::chrono::seconds(20), [&] { return inside >= 2; }))
            ++met;
    });
    std::thread t1([&] { center.post(kName); });
    std::thread t2([&] { center.post(kName); });
    t1.join();
    t2.join();
    EXPECT_EQ(met, 2);
}

TEST(NotificationCenterTest, ConcurrentPostsAndCancelsNeverReachACancelledObserver)
{
    NotificationCenter center;
    std::atomic<bool> stop{false};
    std::atomic<int> violations{0};
    std::atomic<long> deliveries{0};

    std::vector<std::thread> posters;
    for (int i = 0; i < 3; ++i) {
        posters.emplace_back([&, i] {
            const NotificationObject object = NotificationObject::number(i % 2);
            while (!stop)
                center.post(kName, object);
        });
    }

    // The observers' state is heap-allocated and freed right after cancel(),
    // so a late call is also a use-after-free for the sanitizers to see.
    struct Observer {
        std::atomic<bool> cancelled{false};
        std::atomic<int> calls{0};
    };
    std::vector<std::thread> churners;
    for (int t = 0; t < 3; ++t) {
        churners.emplace_back([&, t] {
            std::mt19937 random(static_cast<unsigned>(t));
            QObject owner;
            for (int round = 0; round < 1000; ++round) {
                auto observer = std::make_unique<Observer>();
                Observer* raw = observer.get();
                auto callback = [raw, &violations, &deliveries](const Notification&) {
                    if (raw->cancelled)
                        ++violations;
                    ++raw->calls;
                    ++deliveries;
                };
                if (random() % 2) {
                    auto sub = center.addObserver(kName, NotificationObject::number(random() % 2), callback);
                    std::this_thread::yield();
                    sub.cancel();
                } else {
                    auto context = std::make_unique<QObject>();
                    center.addObserver(context.get(), kName, {}, callback);
                    center.addObserver(&owner, QString(), {}, [](const Notification&) {});
                    std::this_thread::yield();
                    if (random() % 2)
                        context.reset();
                    else
                        center.removeObserver(context.get());
                    center.removeObserver(&owner);
                }
                raw->cancelled = true;
                observer.reset();
            }
        });
    }
    for (auto& t : churners)
        t.join();
    stop = true;
    for (auto& t : posters)
        t.join();

    EXPECT_EQ(violations, 0);
    EXPECT_EQ(center.observerCount(), 0u);
    EXPECT_GT(deliveries, 0);
}

} // namespace
