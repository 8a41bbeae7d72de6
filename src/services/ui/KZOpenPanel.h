#pragma once

#include <QDir>
#include <QFileDialog>
#include <QStringList>

// The panel that asks for folders: Qt's own (not the desktop's) file dialog,
// so that folder documents such as photo libraries can be chosen like files
// instead of being opened, and so that folders and files of the allowed
// types can be chosen in one panel.
class KZOpenPanel : public QFileDialog {
    Q_OBJECT
public:
    explicit KZOpenPanel(QWidget* parent = nullptr);

    // Extensions (without the dot, any case) of the files and folder
    // documents that may be chosen besides plain folders.
    void setAllowedFileTypes(const QStringList& extensions);
    QStringList allowedFileTypes() const { return allowedTypes_; }
    void setAllowsMultipleSelection(bool allows);
    bool allowsMultipleSelection() const { return multiple_; }
    void setCanCreateDirectories(bool can);
    bool canCreateDirectories() const;
    // The message is a line of text above the file list; the window keeps
    // its short title.
    void setMessage(const QString& message);
    QString message() const { return message_; }
    // Shows `message` above the file list of any of Qt's own file dialogs
    // (none when empty), the same way for every dialog of the program.
    static void showMessage(QFileDialog& dialog, const QString& message);

    // Whether `path` may be chosen: a folder (a folder document included)
    // or a file of an allowed type.
    bool canChoose(const QString& path) const;
    // Where a new panel opens: the folder of the last choice, else home.
    static QString startDirectory();
    // What was chosen when the panel closed with Accepted.
    QStringList chosenPaths() const { return chosen_; }
    // `paths` without those that hold another of them. Qt's list keeps each
    // folder it matched while a path was typed in the name field without
    // the keys (a completion picked from its list, a paste), so the folders
    // on the way to the one typed would be chosen with it; rows of one list
    // are never inside each other.
    static QStringList withoutHoldingFolders(const QStringList& paths);

public Q_SLOTS:
    void accept() override;

private:
    // A folder document opened by a double click or a typed path is chosen,
    // not entered.
    void directoryWasEntered(const QString& directory);
    void rememberChoice();
    void applyMode();

    QStringList allowedTypes_;
    QStringList chosen_;
    QString message_;
    QString lastDirectory_;
    QDir::Filters filters_ = QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives;
    bool foldersOnly_ = true;
    bool multiple_ = false;
};
