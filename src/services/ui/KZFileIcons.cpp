#include "services/ui/KZFileIcons.h"

#include "platform/FileStat.h"
#include "platform/Paths.h"
#include "services/KZFilesUtilities.h"

#include <QByteArray>
#include <QFile>
#include <QMimeDatabase>
#include <QMimeType>
#include <QApplication>
#include <QHash>
#include <QPainter>
#include <QStyle>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Enough of the start of a file for the MIME database's magic rules. Only
// regular files are opened (a pipe would block), without following a link
// that was swapped in since the stat.
QByteArray headOf(const std::filesystem::path& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return {};
    QByteArray head(4096, Qt::Uninitialized);
    const ssize_t got = ::read(fd, head.data(), size_t(head.size()));
    ::close(fd);
    head.truncate(got > 0 ? got : 0);
    return head;
}

// Outside a desktop session Qt names no icon theme (or only the bare
// "hicolor", which holds no file types): use the freedesktop default theme
// when it is installed, so files show their kinds. A desktop's own theme
// is left as it is.
void ensureIconTheme()
{
    static const bool done = [] {
        const QString current = QIcon::themeName();
        if ((current.isEmpty() || current == QLatin1String("hicolor")) &&
            QIcon::fromTheme(QStringLiteral("text-x-generic")).isNull()) {
            for (const QString& base : QIcon::themeSearchPaths())
                if (QFile::exists(base + QStringLiteral("/Adwaita/index.theme"))) {
                    QIcon::setThemeName(QStringLiteral("Adwaita"));
                    break;
                }
        }
        return true;
    }();
    (void)done;
}

} // namespace

QImage KZFileIcons::kindIconForName(const QString& name, bool isDirectory, QSize size)
{
    if (size.isEmpty())
        return {};
    ensureIconTheme();
    static QMimeDatabase mimes;
    const QMimeType type = isDirectory ? mimes.mimeTypeForName(QStringLiteral("inode/directory"))
                                       : mimes.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    static QHash<QString, QImage> cache;
    const QString key = type.name() + QLatin1Char('@') + QString::number(size.width()) + QLatin1Char('x') +
                        QString::number(size.height());
    if (const auto found = cache.constFind(key); found != cache.constEnd())
        return found.value();
    QIcon icon = QIcon::fromTheme(type.iconName());
    if (icon.isNull())
        icon = QIcon::fromTheme(type.genericIconName());
    if (icon.isNull())
        icon = QIcon::fromTheme(isDirectory ? QStringLiteral("folder") : QStringLiteral("text-x-generic"));
    if (icon.isNull() && QApplication::style())
        icon = QApplication::style()->standardIcon(isDirectory ? QStyle::SP_DirIcon : QStyle::SP_FileIcon);
    QImage drawn = icon.pixmap(size).toImage();
    if (!drawn.isNull() && drawn.size() != size)
        drawn = drawn.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (drawn.isNull())
        drawn = KZFilesUtilities::sharedControl().placeholderImageWithSize(size);
    cache.insert(key, drawn);
    return drawn;
}

QIcon KZFileIcons::iconForItemPath(const std::filesystem::path& path)
{
    if (path.empty())
        return {};
    // The icon shows what the user gets on opening the item: a link shows
    // its target.
    auto st = platform::statPath(path, true);
    if (!st)
        st = platform::statPath(path, false);
    if (!st)
        return {};

    ensureIconTheme();
    QMimeDatabase mimes;
    QMimeType type;
    const QString name = platform::pathText(path.filename());
    if (st->isDir())
        type = mimes.mimeTypeForName(QStringLiteral("inode/directory"));
    else if (st->isRegular())
        type = mimes.mimeTypeForFileNameAndData(name, headOf(path));
    else
        type = mimes.mimeTypeForFile(name, QMimeDatabase::MatchExtension);

    QIcon icon = QIcon::fromTheme(type.iconName());
    if (icon.isNull())
        icon = QIcon::fromTheme(type.genericIconName());
    if (icon.isNull() && st->isDir())
        icon = QIcon::fromTheme(QStringLiteral("folder"));
    return icon;
}

QImage KZFileIcons::iconOfItemWithURL(const std::filesystem::path& path, QSize size)
{
    const auto& files = KZFilesUtilities::sharedControl();
    const QIcon icon = iconForItemPath(path);
    if (icon.isNull() || size.isEmpty())
        return files.placeholderImageWithSize(size);
    QImage drawn = icon.pixmap(size).toImage();
    if (drawn.isNull())
        return files.placeholderImageWithSize(size);
    if (drawn.size() != size)
        drawn = drawn.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (drawn.size() == size)
        return drawn;
    // A theme icon that is not square is centred on a transparent canvas.
    QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    painter.drawImage(QPoint((size.width() - drawn.width()) / 2, (size.height() - drawn.height()) / 2), drawn);
    return canvas;
}

QIcon KZFileIcons::appIconWithIdentifier(const QString&)
{
    return {};
}
