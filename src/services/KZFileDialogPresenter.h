#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// Asks the user for files or folders. The application registers the widget
// implementation at start-up (a window-modal file dialog); tests and the
// screenshot driver register one that answers by itself, so that the code
// asking never depends on widgets and no test waits for a click. Every call
// arrives on the main thread.
class KZFileDialogPresenter {
public:
    enum class Mode {
        ChooseFolders, // folders, and files or folder documents of `allowedTypes`
        OpenFiles,     // existing files of `allowedTypes` (any file when empty)
        SaveFile,      // a new or existing file name
    };

    struct Request {
        Mode mode = Mode::ChooseFolders;
        // The window's title: a few words naming the task; empty for the
        // dialog's own.
        QString title;
        // Shown above the file list, as given (plain text); never the title.
        QString message;
        // The button that accepts; empty for the dialog's own.
        QString acceptTitle;
        QString directory;
        QString suggestedName;
        // Extensions without the dot, any case.
        QStringList allowedTypes;
        bool allowsMultipleSelection = false;
        bool canCreateDirectories = false;
        // A check box below the file list when not empty, and whether it
        // starts checked.
        QString checkBoxTitle;
        bool checkBoxChecked = false;
        // The window the dialog is a sheet of; null for an application-modal
        // dialog.
        QPointer<QObject> window;
    };

    struct Answer {
        bool accepted = false;
        // Absolute paths, in the order chosen; empty when cancelled.
        QStringList paths;
        // The check box as the dialog closed; the request's initial state
        // when the request had none or the dialog could not show it.
        bool checkBoxChecked = false;
    };

    using Completion = std::function<void(const Answer&)>;

    virtual ~KZFileDialogPresenter() = default;

    // Shows the dialog. With a window it is window-modal, this returns at
    // once and `done` is called when it closes; without one it may run
    // modally and call `done` before returning. `done` is called exactly once.
    virtual void present(const Request& request, Completion done) = 0;

    // The presenter every asker uses; null until one is registered.
    static std::shared_ptr<KZFileDialogPresenter> shared();
    // Registers `presenter` (null removes it) and answers the one it replaced.
    static std::shared_ptr<KZFileDialogPresenter> setShared(std::shared_ptr<KZFileDialogPresenter> presenter);

    // Presents through the shared presenter; with none registered the request
    // is answered as cancelled.
    static void ask(const Request& request, Completion done);
};
