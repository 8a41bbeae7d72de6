#pragma once

#include "services/ui/Popover.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>

class QListWidget;
class QToolButton;
class QPushButton;
class QLabel;
class QWidget;

// The popover that edits the extension groups of one label, one editable
// row of tokens per group. Edits stay in the popover until Done or a second
// click on the row's ellipsis button commits them; any other way of closing
// it drops them. The commit reads the label as it is stored then and changes
// only its extensions (and an empty name), so a rename or recolour made
// meanwhile is kept; a label removed meanwhile is left alone. When the
// extensions changed, "fileTypeExtensionsDidChange" (object: the tag) is
// posted once the popover has closed, and open results file their items
// again. Main thread only.
class KZPreferencesLabelsPopoverCntrl : public QObject {
    Q_OBJECT
public:
    explicit KZPreferencesLabelsPopoverCntrl(QWidget* prefExtCntrl, QObject* parent = nullptr);
    ~KZPreferencesLabelsPopoverCntrl() override;

    // Opens the popover under `anchor` for the stored label of `tag`; while
    // it is open, commits and closes it.
    void showPopover(QWidget* anchor, quint64 tag);
    bool isShown() const;

    void addAction();
    void removeAction();
    void doneAction();
    // The tokens typed into group `row`.
    void updateExtensions(int row, const QString& text);
    // Closes the popover and commits the edits.
    void perfomeClose();

    QStringList groups() const { return extContent_; }
    quint64 tag() const { return tag_; }
    bool extensionsChanged() const { return extensionsChanged_; }
    platform::Popover* popover() const { return popover_; }
    QListWidget* extTableView() const { return extTableView_; }
    QToolButton* removeBtn() const { return removeBtn_; }
    QPushButton* doneBtn() const { return doneBtn_; }

private:
    void buildPopover();
    void reloadList();
    void commitOpenEditors();
    void enableRemoveBtn();
    void popoverDidClose();

    QPointer<QWidget> prefExtCntrl_;
    QPointer<platform::Popover> popover_;
    QListWidget* extTableView_ = nullptr;
    QToolButton* addBtn_ = nullptr;
    QToolButton* removeBtn_ = nullptr;
    QPushButton* doneBtn_ = nullptr;
    QLabel* titleLabel_ = nullptr;
    QPointer<QWidget> anchor_;

    quint64 tag_ = 0;
    QStringList extContent_;
    QStringList originalContent_;
    // A group was edited or removed since the popover opened; an added group
    // alone is no edit.
    bool edited_ = false;
    bool committing_ = false;
    bool extensionsChanged_ = false;
    QVariantMap committedLabel_;
};
