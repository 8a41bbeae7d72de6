#include "platform/SharedInstance.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using platform::SharedInstance;

namespace {

std::atomic<int> made{0};
std::atomic<int> destroyed{0};

struct Service {
    Service() { made.fetch_add(1); }
    virtual ~Service() { destroyed.fetch_add(1); }
    virtual int answer() const { return 1; }
};

struct Replacement : Service {
    int answer() const override { return 2; }
};

SharedInstance<Service>& shared()
{
    static SharedInstance<Service> instance([]() -> std::unique_ptr<Service> { return std::make_unique<Service>(); });
    return instance;
}

// Asks for the shared instance while it is being destroyed by a replacement.
struct Reentrant : Service {
    ~Reentrant() override { seen = shared().get().answer(); }
    static inline int seen = 0;
};

} // namespace

TEST(SharedInstance, FirstUseFromManyThreadsMakesOneInstance)
{
    shared().replace(nullptr);
    made = 0;
    std::vector<std::thread> threads;
    std::vector<Service*> seen(8);
    for (std::size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&seen, i] { seen[i] = &shared().get(); });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(made.load(), 1);
    for (Service* s : seen)
        EXPECT_EQ(s, seen.front());
}

TEST(SharedInstance, AReplacementTakesOverAndTheOldOneGoesAtOnce)
{
    shared().get();
    destroyed = 0;
    shared().replace(std::make_unique<Replacement>());
    EXPECT_EQ(destroyed.load(), 1);
    EXPECT_EQ(shared().get().answer(), 2);

    // Its destructor runs outside the lock and may ask for the new instance.
    shared().replace(std::make_unique<Reentrant>());
    shared().replace(nullptr);
    EXPECT_EQ(Reentrant::seen, 1); // a fresh instance, made on that request
    made = 0;
    EXPECT_EQ(shared().get().answer(), 1);
    EXPECT_EQ(made.load(), 0);
}
