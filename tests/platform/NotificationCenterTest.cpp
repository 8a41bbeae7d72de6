#include "platform/NotificationCenter.h"
#include "support/TestSupport.h"

#include <QObject>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <random>
#include <thread>
#include <vector>

using platform::Notification;
using platform::NotificationCenter;
using platform::NotificationObject;
using platform::Subscription;

namespace {

const QString kName = QStringLiteral("searchDidTerminate");

TEST(NotificationCenterTest, DeliversOnThePostingThreadInRegistrationOrder)
{
    NotificationCenter center;
    std::vector<int> calls;
    QVariantMap seen;
    std::thread::id deliveredOn;
    auto a = center.addObserver(kName, {}, [&](const Notification& n) { calls.push_back(1); seen = n.userInfo; });
    auto b = center.addObserver(kName, {}, [&](const Notification&) { calls.push_back(2); });
    auto c = center.addObserver(kName, {}, [&](const Notification&) {
        calls.push_back(3);
        deliveredOn = std::this_thread::get_id();
    });
    auto anyName = center.addObserver({}, {}, [&](const Notification&) { calls.push_back(0); });

    std::thread poster([&] { center.post(kName, platform::bundleIdentifier(), {{QStringLiteral("continue"), true}}); });
    const auto posterId = poster.get_id();
    poster.join();
    EXPECT_EQ(calls, (std::vector<int>{1, 2, 3, 0}));
    EXPECT_EQ(seen.value(QStringLiteral("continue")), QVariant(true));
    EXPECT_EQ(deliveredOn, posterId);

    center.post(QStringLiteral("appWasOpened"));
    center.post(QString()); // refused: there is nothing to match it against
    EXPECT_EQ(calls, (std::vector<int>{1, 2, 3, 0, 0}));
}

TEST(NotificationCenterTest, ObjectFiltering)
{
    int a = 0, b = 0;
    const NotificationObject none, bundle = platform::bundleIdentifier(), five = NotificationObject::number(5);
    // A copy made elsewhere: strings compare by value, not by instance.
    const NotificationObject bundleCopy = QString(QString::fromUtf8("Mara") + QStringLiteral("vex"));
    const NotificationObject nullPtr = static_cast<const void*>(nullptr);
    struct Row {
        const char* what;
        NotificationObject registered, posted;
        bool delivered;
    };
    const Row rows[] = {
        {"any object gets a post without object", none, none, true},
        {"any object gets a post with a string", none, bundle, true},
        {"any object gets a post with a pointer", none, &a, true},
        {"string gets an equal string", bundle, bundleCopy, true},
        {"string does not get another string", bundle, QStringLiteral("com.apple.Photos"), false},
        {"string does not get a post without object", bundle, none, false},
        {"pointer gets the same pointer", &a, &a, true},
        {"pointer does not get another pointer", &a, &b, false},
        {"pointer does not get a post without object", &a, none, false},
        {"number gets an equal number", five, NotificationObject::number(5), true},
        {"number does not get another number", five, NotificationObject::number(6), false},
        {"number is not a pointer of the same value", five, reinterpret_cast<const void*>(quintptr(5)), false},
        {"number is not its text", five, QStringLiteral("5"), false},
        {"null pointer registers for any object", nullPtr, bundle, true},
        {"null pointer posts as no object", &a, nullPtr, false},
        {"nullptr posts as no object", none, nullptr, true},
    };
    for (const Row& row : rows) {
        NotificationCenter center;
        int calls = 0;
        auto sub = center.addObserver(kName, row.registered, [&](const Notification&) { ++calls; });
        center.post(kName, row.posted);
        EXPECT_EQ(calls, row.delivered ? 1 : 0) << row.what;
    }
}

TEST(NotificationCenterTest, RemoveObserverTakesOnlyMatchingRegistrations)
{
    const QString other = QStringLiteral("tabsAnimationDidEnd");
    const NotificationObject bundle = platform::bundleIdentifier();
    int pointee = 0;
    struct Row {
        const char* what;
        QString name;
        NotificationObject object;
        std::vector<int> left; // which of the four registrations below survive
    };
    const Row rows[] = {
        {"everything", {}, {}, {}},
        {"one name, any object", kName, {}, {2, 3}},
        {"one name and object", kName, bundle, {0, 2, 3}},
        {"any name, one object", {}, bundle, {0, 2}},
        {"a pointer object", {}, &pointee, {0, 1, 3}},
        {"a name nobody registered", QStringLiteral("nothing"), {}, {0, 1, 2, 3}},
    };
    for (const Row& row : rows) {
        NotificationCenter center;
        QObject context, bystander;
        std::vector<int> called;
        const auto record = [&](int i) { return [&called, i](const Notification&) { called.push_back(i); }; };
        center.addObserver(&context, kName, {}, record(0));
        center.addObserver(&context, kName, bundle, record(1));
        center.addObserver(&context, {}, &pointee, record(2));
        center.addObserver(&context, other, bundle, record(3));
        center.addObserver(&bystander, kName, {}, record(9));

        center.removeObserver(&context, row.name, row.object);
        center.post(kName, bundle);
        center.post(other, bundle);
        center.post(kName, &pointee);
        std::sort(called.begin(), called.end());
        called.erase(std::unique(called.begin(), called.end()), called.end());
        auto expected = row.left;
        expected.push_back(9);
        EXPECT_EQ(called, expected) << row.what;
    }
}

TEST(NotificationCenterTest, RegistrationsEndWithTheirSubscriptionOrContext)
{
    NotificationCenter center;
    int calls = 0;
    const auto count = [&](const Notification&) { ++calls; };
    auto moved = center.addObserver(kName, {}, count);
    Subscription target = std::move(moved);
    center.post(kName);
    target = Subscription();

    // Registrations are not merged: two equal ones are called twice, and
    // removed together.
    QObject twice;
    center.addObserver(&twice, kName, {}, count);
    center.addObserver(&twice, kName, {}, count);
    center.post(kName);
    center.removeObserver(&twice, kName);

    center.addObserver(std::make_unique<QObject>().get(), kName, {}, count); // destroyed at once
    EXPECT_EQ(center.observerCount(), 0u);
    center.post(kName);
    EXPECT_EQ(calls, 3);

    // Either side may outlive the other.
    QObject outliving;
    Subscription late;
    {
        NotificationCenter gone;
        late = gone.addObserver(kName, {}, count);
        gone.addObserver(&outliving, kName, {}, count);
    }
    late.cancel();
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
    Subscription self, added;
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
    kztest::Gate entered, cancelStarted;
    std::atomic<bool> callbackFinished{false};
    auto sub = center.addObserver(kName, {}, [&](const Notification&) {
        entered.open();
        cancelStarted.wait();
        // Give the canceller time to be inside cancel(); the check holds either way.
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

TEST(NotificationCenterTest, ConcurrentPostsAndCancelsNeverReachACancelledObserver)
{
    NotificationCenter center;
    std::atomic<bool> stop{false};
    std::atomic<int> violations{0};
    std::atomic<long> deliveries{0};
    std::vector<std::thread> posters, churners;
    for (int i = 0; i < 3; ++i) {
        posters.emplace_back([&, i] {
            // Yielding after each post keeps three spinning posters from
            // starving the threads whose cancels they are meant to meet.
            while (!stop) {
                center.post(kName, NotificationObject::number(i % 2));
                std::this_thread::yield();
            }
        });
    }
    for (int t = 0; t < 3; ++t) {
        churners.emplace_back([&, t] {
            std::mt19937 random(static_cast<unsigned>(t));
            QObject owner;
            // On a loaded machine the posters may not have run yet when a
            // thousand rounds are over: the rounds go on (within bounds)
            // until a post has met an observer, so that the race is tried.
            for (int round = 0; round < 1000 || (deliveries == 0 && round < 1000000); ++round) {
                // Freed right after the cancel, so that a late call is also a
                // use-after-free for the sanitizers to see.
                auto cancelled = std::make_unique<std::atomic<bool>>(false);
                auto callback = [raw = cancelled.get(), &violations, &deliveries](const Notification&) {
                    violations += *raw ? 1 : 0;
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
                *cancelled = true;
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
