#include "services/ui/KZOpenPanel.h"

#include "platform/Packages.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

KZOpenPanel::KZOpenPanel(QWidget* parent)
    : QFileDialog(parent)
{
    setOption(QFileDialog::DontUseNativeDialog);
    setAcceptMode(QFileDialog::AcceptOpen);
    setFileMode(QFileDialog::ExistingFile);
    setOption(QFileDialog::ReadOnly, true);
    connect(this, &QFileDialog::directoryEntered, this, &KZOpenPanel::directoryWasEntered);
    lastDirectory_ = directory().absolutePath();
}

void KZOpenPanel::setAllowedFileTypes(const QStringList& extensions)
{
    allowedTypes_ = extensions;
    // Folders always pass the name filter; files that do not match are shown
    // greyed out, so the user sees why they cannot be chosen.
    QStringList patterns;
    for (const QString& ext : extensions)
        patterns << QStringLiteral("*.") + ext;
    if (patterns.isEmpty())
        patterns << QStringLiteral("*.kz-no-files");
    setNameFilter(tr("Folders") + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')'));
}

void KZOpenPanel::setAllowsMultipleSelection(bool allows)
{
    setFileMode(allows ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
}

bool KZOpenPanel::allowsMultipleSelection() const
{
    return fileMode() == QFileDialog::ExistingFiles;
}

void KZOpenPanel::setCanCreateDirectories(bool can)
{
    setOption(QFileDialog::ReadOnly, !can);
}

bool KZOpenPanel::canCreateDirectories() const
{
    return !testOption(QFileDialog::ReadOnly);
}

void KZOpenPanel::setMessage(const QString& message)
{
    message_ = message;
    setWindowTitle(message.isEmpty() ? tr("Choose") : message);
}

bool KZOpenPanel::canChoose(const QString& path) const
{
    if (path.isEmpty())
        return false;
    const std::filesystem::path fsPath(QFile::encodeName(path).toStdString());
    const QFileInfo info(path);
    if (!info.exists())
        return false;
    if (info.isDir() && !platform::isPackage(fsPath))
        return true;
    const QString ext = platform::nameExtension(fsPath);
    if (ext.isEmpty())
        return false;
    for (const QString& allowed : allowedTypes_) {
        if (ext.compare(allowed, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void KZOpenPanel::accept()
{
    QStringList paths = selectedFiles();
    if (paths.isEmpty())
        return;
    for (const QString& path : paths) {
        if (!canChoose(path))
            return;
    }
    chosen_ = paths;
    // QFileDialog's own accept() would open a chosen folder instead of
    // answering it.
    QDialog::accept();
}

void KZOpenPanel::directoryWasEntered(const QString& directory)
{
    const std::filesystem::path fsPath(QFile::encodeName(directory).toStdString());
    if (!platform::isPackage(fsPath)) {
        lastDirectory_ = directory;
        return;
    }
    setDirectory(QFileInfo(directory).absolutePath());
    selectFile(directory);
    if (canChoose(directory)) {
        chosen_ = QStringList{QFileInfo(directory).absoluteFilePath()};
        QDialog::accept();
    }
}
