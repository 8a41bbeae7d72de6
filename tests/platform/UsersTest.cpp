#include "platform/Users.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

using namespace platform;

namespace {

// Restores an environment variable when the test ends.
class EnvGuard {
public:
    explicit EnvGuard(const char* name) : name_(name)
    {
        if (const char* v = std::getenv(name))
            saved_ = v;
    }
    ~EnvGuard()
    {
        if (saved_)
            ::setenv(name_, saved_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> saved_;
};

} // namespace

TEST(Users, HomeComesFromTheEnvironmentFirst)
{
    EXPECT_EQ(homeDirectory(), kztest::sandboxHome());
    EnvGuard guard("HOME");
    ::setenv("HOME", "relative/home", 1); // not usable: fall back to the passwd entry
    EXPECT_TRUE(homeDirectory().is_absolute());
    ::unsetenv("HOME");
    EXPECT_TRUE(homeDirectory().is_absolute());
}

TEST(Users, NameIsNeverEmpty)
{
    EXPECT_FALSE(userName().isEmpty());
    EXPECT_EQ(currentUserId(), ::getuid());
}
