#include "app/KZCrashReporter.h"
#include "app/ui/KZMaravexApp.h"
#include "app/ui/KZQuitPolicy.h"
#include "app/ui/KZStateDriver.h"
#include "preferences/KZBundleInfo.h"

#include "media/decoder/KZImageDecoder.h"
#include "platform/MallocArenas.h"
#include "platform/OpenedFiles.h"
#include "platform/OperationQueue.h"
#include "platform/Paths.h"
#include "platform/Resources.h"
#include "platform/StringTable.h"
#include "services/KZErrorDelegate.h"
#include "services/KZFileDialogPresenter.h"
#include "services/KZOpenFileLimit.h"
#include "services/ui/KZFileDialogSheetPresenter.h"
#include "services/ui/KZMessageBoxPresenter.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

int main(int argc, char** argv)
{
    platform::limitMallocArenas();
    // Before anything opens a descriptor of its own: a search keeps folders
    // and files open on every worker, and a session's soft limit is often
    // far below what the system allows.
    const KZOpenFileLimit openFiles = KZRaiseOpenFileLimit();
    if (!openFiles.sufficesForSearch()) {
        std::fprintf(stderr,
                     "maravex: this session allows only %llu open files; a search needs at least %llu. "
                     "Raise the limit (ulimit -n) and start Maravex again.\n",
                     static_cast<unsigned long long>(openFiles.soft),
                     static_cast<unsigned long long>(KZOpenFileLimit::kNeededForSearch));
        return 1;
    }

    // The windows need the graphics library anyway: pictures are decoded by
    // the linked decoder, never a module.
    kzmedia::installImageDecoder(&kzmedia::decodeImageRGBA);
    QApplication app(argc, argv);
    const platform::ApplicationWorkGuard applicationWork;
    QApplication::setApplicationName(QStringLiteral("Maravex"));
    QApplication::setApplicationVersion(KZShortVersionString());
    QApplication::setDesktopFileName(QStringLiteral("maravex"));

    // What is left after Qt took its own options: folders and saved results,
    // kept as bytes so that any file name survives, and absolute, so that
    // sources and saved results name them from any working folder.
    const std::vector<std::filesystem::path> paths = platform::OpenedFiles::argumentPaths(argc, argv);

    platform::OpenedFiles openedFiles;
    switch (openedFiles.start(paths)) {
    case platform::OpenedFiles::Role::HandedOver:
        return 0;
    case platform::OpenedFiles::Role::Unanswered: {
        // Starting a second program beside a busy one would leave the user
        // with two, and every later start with a third.
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Maravex"),
                        platform::localizedString(QStringLiteral("running_not_responding")), QMessageBox::Ok);
        box.setInformativeText(platform::localizedString(QStringLiteral("running_not_responding_info")));
        box.exec();
        return 1;
    }
    case platform::OpenedFiles::Role::Primary:
    case platform::OpenedFiles::Role::Alone:
        break;
    }

    const std::filesystem::path icon = platform::resourcePath("images/maravex.png");
    if (!icon.empty())
        QApplication::setWindowIcon(QIcon(platform::pathText(icon)));

    KZErrorDelegate::sharedControl().setPresenter(std::make_shared<KZMessageBoxPresenter>());
    KZFileDialogPresenter::setShared(std::make_shared<KZFileDialogSheetPresenter>());
    KZQuitPolicy::install(app);

    KZMaravexApp delegate;
    openedFiles.setHandler([&delegate](const std::vector<std::filesystem::path>& handed) { delegate.openFiles(handed); });
    delegate.applicationWillFinishLaunching();
    if (KZCrashReporter* reporter = delegate.crashReporter())
        reporter->treatTerminationAsClean();
    delegate.applicationDidFinishLaunching();
    if (!openedFiles.aloneReason().isEmpty())
        delegate.tellRunningAlone(openedFiles.aloneReason());
    if (!paths.empty())
        delegate.openFiles(paths);
    KZStateDriver::startFromEnvironment(&delegate);

    const int status = QApplication::exec();
    delegate.applicationWillTerminate();
    return status;
}
