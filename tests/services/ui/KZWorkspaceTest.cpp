#include "services/ui/KZWorkspace.h"

#include <QUrl>

#include <gtest/gtest.h>

// A name that is not UTF-8 must come out as the very bytes on disk, or the
// file manager would be asked for another file.
TEST(Workspace, FileAddressesKeepEveryByteOfTheName)
{
    const std::filesystem::path latin1(std::string("/tmp/caf\xE9 menu/r\xE9sum\xE9.txt"));
    const QString uri = KZWorkspace::fileUri(latin1);
    EXPECT_EQ(uri, QStringLiteral("file:///tmp/caf%E9%20menu/r%E9sum%E9.txt"));
    EXPECT_EQ(QUrl(uri, QUrl::StrictMode).toEncoded(), QByteArray("file:///tmp/caf%E9%20menu/r%E9sum%E9.txt"));
    EXPECT_EQ(KZWorkspace::fileUri("/home/ada/a#b?c.txt"), QStringLiteral("file:///home/ada/a%23b%3Fc.txt"));
    EXPECT_EQ(KZWorkspace::fileUri("/"), QStringLiteral("file:///"));
}
