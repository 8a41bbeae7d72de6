#include "services/ui/KZOpenPanel.h"

#include "platform/Packages.h"
#include "platform/Paths.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QSplitter>

#include <algorithm>

KZOpenPanel::KZOpenPanel(QWidget* parent)
    : QFileDialog(parent)
{
    setOption(QFileDialog::DontUseNativeDialog);
    setAcceptMode(QFileDialog::AcceptOpen);
    setObjectName(QStringLiteral("folderPanel"));
    setWindowTitle(tr("Choose"));
    // Qt's own size leaves the places beside the list too narrow for their
    // names.
    resize(760, 480);
    if (auto* splitter = findChild<QSplitter*>(QStringLiteral("splitter")))
        splitter->setSizes({180, 560});
    applyMode();
    setOption(QFileDialog::ReadOnly, true);
    connect(this, &QFileDialog::directoryEntered, this, &KZOpenPanel::directoryWasEntered);
    // Not the folder the program was started from: the user's home, or
    // where the last choice was made.
    const QString start = startDirectory();
    setDirectory(start);
    lastDirectory_ = start;
}

namespace {

QString& lastChosenDirectory()
{
    static QString directory;
    return directory;
}

} // namespace

QString KZOpenPanel::startDirectory()
{
    const QString& last = lastChosenDirectory();
    if (!last.isEmpty() && QFileInfo(last).isDir())
        return last;
    return QDir::homePath();
}

void KZOpenPanel::setAllowedFileTypes(const QStringList& extensions)
{
    allowedTypes_ = extensions;
    // Folders always pass the name filter; files that do not match are shown
    // greyed out, so the user sees why they cannot be chosen.
    // Folder documents (photo libraries) are folders on disk and show with
    // them; other allowed types are files and need the name filter. The
    // filter's patterns stay out of sight: the user asked for folders.
    QStringList patterns;
    for (const QString& ext : extensions) {
        if (!platform::isPackageExtension(ext))
            patterns << QStringLiteral("*.") + ext;
    }
    QDir::Filters filters = QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives;
    foldersOnly_ = patterns.isEmpty();
    if (!foldersOnly_)
        filters |= QDir::Files;
    else
        patterns << QStringLiteral("*");
    filters_ = filters;
    setOption(QFileDialog::HideNameFilterDetails, true);
    setNameFilter(tr("Folders") + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')'));
    applyMode();
}

void KZOpenPanel::setAllowsMultipleSelection(bool allows)
{
    multiple_ = allows;
    applyMode();
}

void KZOpenPanel::applyMode()
{
    // A panel for folders alone is Qt's folder mode, whose button says
    // Choose; in file mode it would say Open over a selected folder and
    // then choose it. Qt lets only file mode pick several, so the lists
    // are switched to extended selection by hand.
    setFileMode(foldersOnly_ ? QFileDialog::Directory
                : multiple_  ? QFileDialog::ExistingFiles
                             : QFileDialog::ExistingFile);
    // Qt's folder mode lists files too (greyed); the filter set after it
    // decides.
    setFilter(filters_);
    const auto selection = multiple_ ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection;
    for (QAbstractItemView* view : findChildren<QAbstractItemView*>()) {
        if (view->objectName() == QLatin1String("listView") || view->objectName() == QLatin1String("treeView"))
            view->setSelectionMode(selection);
    }
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
    showMessage(*this, message);
}

void KZOpenPanel::showMessage(QFileDialog& dialog, const QString& message)
{
    static const QString labelName = QStringLiteral("fileDialogMessage");
    auto* label = dialog.findChild<QLabel*>(labelName, Qt::FindDirectChildrenOnly);
    if (!label) {
        if (message.isEmpty())
            return;
        auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
        if (!grid)
            return;
        // A grid has no row insertion: every cell moves one row down to
        // make room for the message at the top.
        struct Cell {
            QLayoutItem* item;
            int row, column, rowSpan, columnSpan;
        };
        std::vector<Cell> cells;
        for (int i = grid->count() - 1; i >= 0; --i) {
            Cell cell{};
            grid->getItemPosition(i, &cell.row, &cell.column, &cell.rowSpan, &cell.columnSpan);
            cell.item = grid->takeAt(i);
            cells.push_back(cell);
        }
        for (const Cell& cell : cells)
            grid->addItem(cell.item, cell.row + 1, cell.column, cell.rowSpan, cell.columnSpan);
        label = new QLabel(&dialog);
        label->setObjectName(labelName);
        label->setWordWrap(true);
        label->setTextFormat(Qt::PlainText);
        grid->addWidget(label, 0, 0, 1, std::max(1, grid->columnCount()));
    }
    label->setText(message);
    label->setVisible(!message.isEmpty());
}

bool KZOpenPanel::canChoose(const QString& path) const
{
    if (path.isEmpty())
        return false;
    const std::filesystem::path fsPath(platform::pathFromText(path));
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

QStringList KZOpenPanel::withoutHoldingFolders(const QStringList& paths)
{
    QStringList kept;
    for (const QString& path : paths) {
        const QString folder = QDir::cleanPath(path);
        const QString inside = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
        const bool holdsAnother = std::any_of(paths.begin(), paths.end(), [&](const QString& other) {
            return QDir::cleanPath(other).startsWith(inside);
        });
        if (!holdsAnother && !kept.contains(path))
            kept << path;
    }
    return kept;
}

void KZOpenPanel::accept()
{
    QStringList paths = withoutHoldingFolders(selectedFiles());
    if (paths.isEmpty())
        return;
    for (const QString& path : paths) {
        if (!canChoose(path))
            return;
    }
    chosen_ = paths;
    rememberChoice();
    // QFileDialog's own accept() would open a chosen folder instead of
    // answering it.
    QDialog::accept();
}

void KZOpenPanel::directoryWasEntered(const QString& directory)
{
    const std::filesystem::path fsPath(platform::pathFromText(directory));
    if (!platform::isPackage(fsPath)) {
        lastDirectory_ = directory;
        return;
    }
    setDirectory(QFileInfo(directory).absolutePath());
    selectFile(directory);
    if (canChoose(directory)) {
        chosen_ = QStringList{QFileInfo(directory).absoluteFilePath()};
        rememberChoice();
        QDialog::accept();
    }
}

void KZOpenPanel::rememberChoice()
{
    // The next panel opens in the folder chosen; a folder document or a file
    // cannot be entered, so it opens beside them.
    if (chosen_.isEmpty())
        return;
    const QFileInfo info(chosen_.first());
    const bool enterable = info.isDir() && !platform::isPackage(platform::pathFromText(info.absoluteFilePath()));
    lastChosenDirectory() = enterable ? info.absoluteFilePath() : info.absolutePath();
}
