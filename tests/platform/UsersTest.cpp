#include "platform/Users.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

TEST(Users, HomeComesFromTheEnvironmentFirstAndTheNameIsNeverEmpty)
{
    EXPECT_EQ(platform::homeDirectory(), kztest::sandboxHome());
    kztest::EnvGuard guard("HOME");
    ::setenv("HOME", "relative/home", 1); // not usable: fall back to the passwd entry
    EXPECT_TRUE(platform::homeDirectory().is_absolute());
    ::unsetenv("HOME");
    EXPECT_TRUE(platform::homeDirectory().is_absolute());
    EXPECT_FALSE(platform::userName().isEmpty());
    EXPECT_EQ(platform::currentUserId(), ::getuid());
}
