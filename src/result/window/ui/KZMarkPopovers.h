#pragma once

#include "result/model/KZFoundItemGroup.h"
#include "result/window/KZLastMemberGate.h"
#include "services/ui/Popover.h"

#include <QObject>
#include <QPointer>

class QCheckBox;
class QLabel;
class QPushButton;

// Asks, next to an item's check box, whether the last unmarked member of
// its group should be marked all the same. One per tab list, so a
// remembered answer holds for that list only.
class KZMarkInfoPopover : public QObject {
    Q_OBJECT
public:
    explicit KZMarkInfoPopover(QObject* parent = nullptr);
    ~KZMarkInfoPopover() override;

    KZLastMemberGate& gate() { return gate_; }
    // The verdict reaches `verdict` once: at the answer, when the question
    // is dismissed, or at once when another question was open (this press
    // then only closes that one).
    void askForMark(const KZFoundItemRef& item, QWidget* anchor, const QRect& rect, KZLastMemberGate::Verdict verdict);

    platform::Popover* popover() const { return popover_; }
    QLabel* questionLabel() const { return question_; }
    QPushButton* markButton() const { return markBtn_; }
    QPushButton* leaveButton() const { return leaveBtn_; }
    QCheckBox* dontShowAgainCheck() const { return dontShow_; }

private:
    void answer(bool mark);

    KZLastMemberGate gate_;
    QPointer<platform::Popover> popover_;
    QLabel* question_ = nullptr;
    QPushButton* markBtn_ = nullptr;
    QPushButton* leaveBtn_ = nullptr;
    QCheckBox* dontShow_ = nullptr;
};

// A group's options in a list that shows only part of it: show its missing
// members (of this group or every group of the list) or reveal it in the
// tab's whole list.
class KZGroupOptionsPopover : public QObject {
    Q_OBJECT
public:
    enum Choice { ShowMissing = 1, Reveal = 2 };

    explicit KZGroupOptionsPopover(QObject* parent = nullptr);
    ~KZGroupOptionsPopover() override;

    // A second request while shown only closes it.
    void showInfo(const KZFoundItemGroupRef& group, bool disableControls, QWidget* anchor, const QRect& rect);

    platform::Popover* popover() const { return popover_; }
    QPushButton* showGroupButton() const { return showBtn_; }
    QPushButton* revealGroupButton() const { return revealBtn_; }
    QCheckBox* showInAllGroupsCheck() const { return allGroups_; }

Q_SIGNALS:
    // After the popover closed and the press was handled; closing it any
    // other way chooses nothing.
    void chosen(const KZFoundItemGroupRef& group, int tag, bool showForAll);

private:
    void choose(int tag);

    QPointer<platform::Popover> popover_;
    QPushButton* showBtn_ = nullptr;
    QPushButton* revealBtn_ = nullptr;
    QCheckBox* allGroups_ = nullptr;
    std::weak_ptr<KZFoundItemGroup> currItem_;
};
