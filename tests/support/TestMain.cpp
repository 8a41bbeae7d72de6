// Every test executable starts here: HOME and the XDG folders point into a
// private temporary folder before any code can read them, so no test ever
// touches the real home folder, Trash or settings.
#include "RunConditions.h"
#include "TestSupport.h"
#include "platform/OperationQueue.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QList>
#ifdef KZ_TEST_WIDGETS
#include <QApplication>
#endif
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <linux/magic.h>
#include <memory>
#include <fcntl.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace kztest {
namespace {
fs::path g_home;
}

const fs::path& sandboxHome() { return g_home; }

namespace {
platform::KernelConditions g_runConditions;
}

platform::KernelConditions runKernelConditions() { return g_runConditions; }

void startWithRunKernelConditions()
{
    g_runConditions = platform::systemKernelConditions();
    if (const char* seam = std::getenv("MARAVEX_TEST_KERNEL")) {
        for (const QByteArray& word : QByteArray(seam).split(',')) {
            const QByteArray item = word.trimmed();
            if (item == "no-unique-mount-id")
                g_runConditions.uniqueMountIds = false;
            else if (item == "no-device-serial")
                g_runConditions.deviceSerials = false;
            else if (item.startsWith("boot="))
                g_runConditions.bootId = item.mid(5).toStdString();
            else if (item.startsWith("namespace="))
                g_runConditions.mountNamespace = item.mid(10).toStdString();
        }
    }
    platform::setKernelConditions(g_runConditions);
}

void followMountNamespace()
{
    const char* seam = std::getenv("MARAVEX_TEST_KERNEL");
    if (seam && QByteArray(seam).contains("namespace="))
        return;
    const std::string before = g_runConditions.mountNamespace;
    const std::string now = platform::systemKernelConditions().mountNamespace;
    g_runConditions.mountNamespace = now;
    platform::KernelConditions inForce = platform::kernelConditions();
    if (inForce.mountNamespace == before) {
        inForce.mountNamespace = now;
        platform::setKernelConditions(inForce);
    }
}
} // namespace kztest

namespace {

// The removal and saving code syncs every journal and file it writes; on a
// disk those syncs are most of a test run's time and prove nothing a test
// can see. Unless the caller chose a place (TMPDIR), the temporary folders go
// to a memory file system with room to spare.
void preferMemoryForTemporaryFolders()
{
    if (std::getenv("TMPDIR"))
        return;
    const char* shm = "/dev/shm";
    struct statfs there {};
    constexpr unsigned long long kRoom = 1ull << 30;
    if (::statfs(shm, &there) != 0 || there.f_type != TMPFS_MAGIC || ::access(shm, W_OK | X_OK) != 0
        || static_cast<unsigned long long>(there.f_bavail) * static_cast<unsigned long long>(there.f_bsize) < kRoom)
        return;
    // Older kernels' memory file systems refuse user extended attributes,
    // which the attribute tests need: keep the default place there.
    std::string probe = std::string(shm) + "/kzprobe-XXXXXX";
    const int fd = ::mkstemp(probe.data());
    if (fd < 0)
        return;
    const bool attributes = ::fsetxattr(fd, "user.kzprobe", "1", 1, 0) == 0;
    ::close(fd);
    ::unlink(probe.c_str());
    if (attributes)
        ::setenv("TMPDIR", shm, 1);
}

// Tests run the event loop through processEvents(), which leaves what the
// code handed to deleteLater() waiting; a window left so would still answer
// the next test's notifications. Each test's leftovers go before the next.
class DeleteLeftObjects : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo&) override
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

} // namespace

int main(int argc, char** argv)
{
    kztest::startWithRunKernelConditions();
    preferMemoryForTemporaryFolders();
    // A case run in a fresh process (kztest::runTestInFreshProcess) shares
    // the home folder of the test that started it, which removes it.
    const char* shared = std::getenv("KZ_TEST_HOME");
    const bool ownHome = !shared || !*shared;
    std::string templ = ownHome ? (fs::temp_directory_path() / "kzhome-XXXXXX").string() : std::string(shared);
    if (ownHome && !::mkdtemp(templ.data()))
        return 2;
    kztest::g_home = templ;
    const fs::path home = kztest::g_home;
    for (const char* sub : {".config", ".local/share", ".cache", "runtime"})
        fs::create_directories(home / sub);
    fs::permissions(home / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (home / ".cache").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (home / "runtime").c_str(), 1);
    ::setenv("LC_ALL", "C.UTF-8", 0);

#ifdef KZ_TEST_WIDGETS
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    const platform::ApplicationWorkGuard applicationWork;
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new DeleteLeftObjects);
    const int rc = RUN_ALL_TESTS();

    std::error_code ec;
    if (ownHome)
        fs::remove_all(home, ec);
    return rc;
}

// glibc keeps the search path of a locale loaded from LOCPATH for the life
// of the process (the comma-decimal locale some tests make): not ours, and
// never freed by design.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:__argz_add_sep\nleak:_nl_find_locale\n";
}
